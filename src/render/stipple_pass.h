// The stipple pass: scatters the shapes over the canvas, each coloured from the source image.
#pragma once

#include <windows.h>

#include <cstdint>

#include "render/host.h"
#include "render/random.h"
#include "settings/settings.h"

// Progress goes to the host after every shape whose index is a multiple of this.
constexpr int kProgressInterval = 100;

// width x height x density / 100 / minSize, truncating left to right. Wider than 32 bits, so
// large images get their full count; no shapes when minSize is not positive.
std::int64_t ShapeCount(LONG width, LONG height, std::int32_t density, std::int32_t minSize);

// i x 100 / count, truncated: the percentage reported after shape i.
int ProgressPercent(std::int64_t i, std::int64_t count);

struct SourceColour {
    BYTE red;
    BYTE green;
    BYTE blue;
};

struct ShapePlacement {
    int x;  // drawing coordinates
    int y;
    std::int32_t size;
};

// The next shape's centre and size from the generator: x, then y, then (unless the sizes are
// equal) the size. `size` carries over from shape to shape, starting at minSize.
ShapePlacement NextPlacement(StippleRandom& random, const ImageSize& size,
                             const StippleSettings& settings, std::int32_t previousSize);

// One pixel of the source image through the host's reader, the position clamped into the image.
SourceColour SampleSourcePixel(const StippleHost& host, const ImageSize& size, int column, int row);

// Draws the shapes onto the canvas selected in `dc`, reporting progress to the host every
// hundredth shape. The generator is seeded with `seed` once, before the first shape.
void RunStipplePass(HDC dc, const ImageSize& size, const StippleHost& host,
                    const StippleSettings& settings, std::uint32_t seed);
