#include "render/stipple_pass.h"

#include <algorithm>
#include <limits>
#include <span>

#include "render/shape_drawing.h"

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::int32_t ClampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

COLORREF ColourValue(SourceColour c) { return c.red + c.green * 256u + c.blue * 65536u; }

// A pen and a brush of the colour, each made, selected, restored and deleted around the one shape.
void DrawInColour(HDC dc, const ShapePlacement& shape, int kind, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, brush);
    DrawShape(dc, shape.x, shape.y, shape.size, kind);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

}  // namespace

std::int64_t ShapeCount(LONG width, LONG height, std::int32_t density, std::int32_t minSize) {
    // A minimum size of zero or less can only come from a hand-edited file; it asks for no
    // sensible shape, so none are drawn rather than dividing by it.
    if (minSize <= 0) return 0;
    std::int64_t product = 0;
    if (__builtin_mul_overflow(std::int64_t{width} * height, std::int64_t{density}, &product)) {
        product = (density < 0) != ((std::int64_t{width} * height) < 0) ? -kInt64Max : kInt64Max;
    }
    return product / 100 / minSize;
}

int ProgressPercent(std::int64_t i, std::int64_t count) {
    if (i <= kInt64Max / 100) return static_cast<int>(i * 100 / count);
    return static_cast<int>(i / (count / 100));  // beyond any count a run can reach
}

ShapePlacement NextPlacement(StippleRandom& random, const ImageSize& size,
                             const StippleSettings& settings, std::int32_t previousSize) {
    ShapePlacement placement{0, 0, previousSize};
    placement.x = random.Next() % size.width;  // x before y: the order draws are made in
    placement.y = random.Next() % size.height;
    const std::int64_t spread = std::int64_t{settings.maxSize} - settings.minSize;
    if (spread != 0) placement.size = ClampToInt32(random.Next() % spread + settings.minSize);
    return placement;
}

SourceColour SampleSourcePixel(const StippleHost& host, const ImageSize& size, int column,
                               int row) {
    if (column < 0) column = 0;
    if (column > size.width - 1) column = size.width - 1;
    if (row < 0) row = 0;
    if (row > size.height - 1) row = size.height - 1;
    BYTE pixel[4] = {};
    host.readRow(host.context, row, column, column, pixel);
    return {pixel[2], pixel[1], pixel[0]};
}

void RunStipplePass(HDC dc, const ImageSize& size, const StippleHost& host,
                    const StippleSettings& settings, std::uint32_t seed) {
    StippleRandom random(seed);
    const std::int64_t count =
        ShapeCount(size.width, size.height, settings.density, settings.minSize);

    // Shapes go in batches that end at a shape reporting progress: all of a batch's places are
    // drawn from the generator, then its colours read, then its shapes drawn. The host sees
    // exactly the reads and messages, in exactly the order, of going shape by shape, while the
    // reads, each a likely cache miss in the host's image, run back to back and overlap.
    struct Pending {
        ShapePlacement shape;
        COLORREF colour;
    };
    Pending batch[kProgressInterval];
    ShapePlacement shape{0, 0, settings.minSize};
    for (std::int64_t first = 0; first < count;) {
        const std::int64_t reporting = (first + kProgressInterval - 1) / kProgressInterval *
                                       kProgressInterval;  // the next index that reports
        const std::int64_t last = std::min(reporting, count - 1);
        const int batchSize = static_cast<int>(last - first + 1);
        for (Pending& pending : std::span(batch, batchSize)) {
            shape = NextPlacement(random, size, settings, shape.size);
            pending.shape = shape;
        }
        for (Pending& pending : std::span(batch, batchSize)) {
            // The row after the centre's own: the way the filter has always picked its colours.
            pending.colour = ColourValue(
                SampleSourcePixel(host, size, pending.shape.x, size.height - pending.shape.y));
        }
        for (const Pending& pending : std::span(batch, batchSize)) {
            DrawInColour(dc, pending.shape, settings.shape, pending.colour);
        }
        if (last % kProgressInterval == 0) {
            host.progress(host.context, ProgressPercent(last, count));
        }
        first = last + 1;
    }
}
