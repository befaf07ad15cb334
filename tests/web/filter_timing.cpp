// The native side of the page's performance figures: the filter on the tests' picture in an RGBA
// buffer, as the page's worker runs it, timed around StippleBuffer alone.
//   filter_timing WIDTH HEIGHT SHAPE DENSITY MIN MAX WHITE SEED RUNS  -> the median in ms
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "embed/stipple_buffer.h"

int main(int argc, char** argv) {
    if (argc != 10) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT SHAPE DENSITY MIN MAX WHITE SEED RUNS\n",
                     argv[0]);
        return 2;
    }
    int value[9];
    for (int i = 0; i < 9; ++i) value[i] = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
    const int width = value[0], height = value[1];
    // The same picture as tests/web/paths.mjs draws.
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 4, 255);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            std::uint8_t* pixel = &picture[(static_cast<std::size_t>(row) * width + column) * 4];
            pixel[0] = static_cast<std::uint8_t>(row * 255 / (height - 1));
            pixel[1] = (column / 16 + row / 16) % 2 ? 200 : 40;
            pixel[2] = static_cast<std::uint8_t>(column + row);
        }
    }
    const StippleSettings settings{.clearFirst = value[6],
                                   .minSize = value[4],
                                   .maxSize = value[5],
                                   .density = value[3],
                                   .shape = value[2]};
    std::vector<double> times;
    for (int run = 0; run < value[8]; ++run) {
        std::vector<std::uint8_t> pixels = picture;
        const PixelBuffer buffer{
            .pixels = pixels.data(), .width = width, .height = height, .layout = PixelLayout::Rgba};
        const auto start = std::chrono::steady_clock::now();
        if (!StippleBuffer(buffer, settings, static_cast<std::uint32_t>(value[7])).done()) return 1;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
