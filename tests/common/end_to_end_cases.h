// Whole runs with fixed seeds on a fixed image, one per shape and background. The Windows build
// draws them through real GDI and keeps the results as the reference; the Linux build must give
// the same bytes through the stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/recording_host.h"
#include "render/filter_run.h"

struct EndToEndCase {
    std::string name;
    StippleSettings settings;
    std::uint32_t seed;
};

inline std::vector<EndToEndCase> EndToEndCases() {
    std::vector<EndToEndCase> cases;
    const char* names[] = {"circle", "triangle", "square", "pentagon", "hexagon", "star"};
    for (int shape = Circle; shape <= Star; ++shape) {
        cases.push_back(
            {std::string(names[shape]) + "-image",
             {.clearFirst = 0, .minSize = 2, .maxSize = 30, .density = 60, .shape = shape},
             static_cast<std::uint32_t>(4242 + shape)});
        cases.push_back(
            {std::string(names[shape]) + "-white",
             {.clearFirst = 1, .minSize = 4, .maxSize = 12, .density = 30, .shape = shape},
             static_cast<std::uint32_t>(99 + shape)});
    }
    return cases;
}

// An odd-sized image (canvas margins of 1 and 3 pixels) with smooth gradients and hard edges.
inline std::vector<BYTE> RunEndToEndCase(const EndToEndCase& c) {
    RecordingHost host(211, 157);
    for (int row = 0; row < 157; ++row) {
        for (int column = 0; column < 211; ++column) {
            BYTE* pixel = host.Pixel(column, row);
            pixel[0] = static_cast<BYTE>(column + row);
            pixel[1] = static_cast<BYTE>((column / 16 + row / 16) % 2 ? 200 : 40);
            pixel[2] = static_cast<BYTE>(row * 255 / 156);
        }
    }
    RunFilterWith(c.settings, host.window, &host.size, &host.writer, &host.reader, c.seed);
    return host.image;
}
