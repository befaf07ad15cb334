// Software rasteriser behind the Linux stand-in's FillRect, Ellipse and Polygon.
//
// It draws exactly the pixels GDI draws into a 24-bit DIB section with a 1-pixel solid pen and
// a solid brush (MM_TEXT, R2_COPYPEN). Every shape is computed in unbounded integer space and
// then cropped to the surface, as GDI does. Nothing here knows about <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raster {

// A 24-bit pixel grid. Drawing row y (0 = top) starts at line0 + y * pitch; each pixel is
// three bytes in the order blue, green, red. A bottom-up DIB passes its last stored row as
// line0 and a negative pitch.
struct Surface {
    std::uint8_t* line0;
    std::ptrdiff_t pitch;
    int width;
    int height;
};

struct Point {
    std::int32_t x;
    std::int32_t y;
};

// COLORREF layout: red in bits 0-7, green in 8-15, blue in 16-23; the top byte is ignored.
using Colour = std::uint32_t;

enum class FillMode { Alternate = 1, Winding = 2 };

// Paints [left, right) x [top, bottom). An inverted rectangle is painted as GDI paints it: the
// pixel at (left, top) is always included and the far edge excluded, e.g. left 30, right 10
// paints columns 11 to 30.
void FillRect(const Surface& surface, int left, int top, int right, int bottom, Colour colour);

// Ellipse(l, t, r, b): brush interior, then pen outline. Corners may come in either order.
void DrawEllipse(const Surface& surface, int left, int top, int right, int bottom, Colour pen,
                 Colour brush);

// Polygon(pts, n) under the given fill mode: brush fill, then the closed pen outline.
void DrawPolygon(const Surface& surface, const Point* pts, int n, FillMode mode, Colour pen,
                 Colour brush);

}  // namespace raster
