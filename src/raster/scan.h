// The scan of every shape: the one-pixel pen's walk along a segment, the polygon's row crossings
// and the ellipse's integer walk, each in coordinates relative to the shape's anchor, and the
// direct route that paints them straight onto the surface.
#pragma once

#include "pixels.h"

namespace raster::detail {

// ---------------------------------------------------------------------------------------------
// One-pixel pen segments

// Minor-axis offset of the pixel at major step k of a segment `major` steps long whose minor
// extent is `minor` (|minor| <= major): the pixel nearest the ideal line and, on an exact tie,
// the one with the smaller coordinate whichever way the segment runs, as GDI does. With int32
// end points k < major < 2^32 and |minor| < 2^32, so the product fits an unsigned 64-bit word.
inline i64 MinorOffset(i64 k, i64 major, i64 minor) {
    const u64 product = static_cast<u64>(k) * static_cast<u64>(Abs(minor));
    const u64 quotient = product / static_cast<u64>(major);
    const u64 twiceRest = 2 * (product % static_cast<u64>(major));
    if (minor >= 0) return static_cast<i64>(quotient + (twiceRest > static_cast<u64>(major)));
    return -static_cast<i64>(quotient + (twiceRest >= static_cast<u64>(major)));
}

// Calls plot(x, y) for every pixel of the segment a -> b (a drawn, b not) inside `clip`. Only the
// major-axis steps that fall inside the clip are visited, so a segment miles long costs at most
// one surface width or height.
template <class Plot>
void WalkSegment(i64 ax, i64 ay, i64 bx, i64 by, const Box& clip, Plot&& plot) {
    const i64 dx = bx - ax;
    const i64 dy = by - ay;
    const bool xMajor = Abs(dx) > Abs(dy);  // exact diagonals count as y-major
    const i64 major = xMajor ? Abs(dx) : Abs(dy);
    if (major == 0) return;
    const i64 minor = xMajor ? dy : dx;
    const bool forward = (xMajor ? dx : dy) > 0;
    const i64 majorStart = xMajor ? ax : ay;
    const i64 minorStart = xMajor ? ay : ax;
    const i64 majorLo = xMajor ? clip.x0 : clip.y0;
    const i64 majorHi = xMajor ? clip.x1 : clip.y1;
    const i64 minorLo = xMajor ? clip.y0 : clip.x0;
    const i64 minorHi = xMajor ? clip.y1 : clip.x1;

    i64 kBegin = forward ? majorLo - majorStart : majorStart - majorHi + 1;
    i64 kEnd = forward ? majorHi - majorStart : majorStart - majorLo + 1;
    kBegin = std::max<i64>(kBegin, 0);
    kEnd = std::min(kEnd, major);
    for (i64 k = kBegin; k < kEnd; ++k) {
        const i64 m = minorStart + MinorOffset(k, major, minor);
        if (m < minorLo || m >= minorHi) continue;
        const i64 M = forward ? majorStart + k : majorStart - k;
        if (xMajor) {
            plot(M, m);
        } else {
            plot(m, M);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Polygons

struct Crossing {
    i64 x;    // first pixel at or right of the edge
    int dir;  // +1 for an edge running down, -1 up
};

// ceil of the x where the edge from upper (ux, uy) to lower (lx, ly) meets row y, for
// uy <= y < ly. The edge's extents are below 2^32, so along * |dx| fits 64 unsigned bits.
inline i64 CeilCrossing(i64 ux, i64 uy, i64 lx, i64 ly, i64 y) {
    const u64 height = static_cast<u64>(ly - uy);
    const u64 along = static_cast<u64>(y - uy);
    const i64 dx = lx - ux;
    const u64 product = along * static_cast<u64>(Abs(dx));
    const i64 whole = static_cast<i64>(product / height);
    if (dx < 0) return ux - whole;
    return ux + whole + (product % height != 0 ? 1 : 0);
}

// A polygon in coordinates relative to its first vertex.
class PolygonShape {
public:
    PolygonShape(const Point* pts, int n, FillMode mode, Crossing* crossings)
        : pts_(pts), n_(n), mode_(mode), crossings_(crossings), ox_(pts[0].x), oy_(pts[0].y) {
        bounds_ = {0, 0, 0, 0};
        for (int i = 0; i < n; ++i) {
            bounds_.x0 = std::min(bounds_.x0, X(i));
            bounds_.x1 = std::max(bounds_.x1, X(i));
            bounds_.y0 = std::min(bounds_.y0, Y(i));
            bounds_.y1 = std::max(bounds_.y1, Y(i));
        }
        bounds_.x1 += 1;  // the outline can draw the right-most and bottom-most vertices
        bounds_.y1 += 1;
    }

    i64 X(int i) const { return i64{pts_[i].x} - ox_; }
    i64 Y(int i) const { return i64{pts_[i].y} - oy_; }
    const Box& Bounds() const { return bounds_; }

    // emit(y, x0, x1) for the brush spans of rows [rowBegin, rowEnd).
    template <class Emit>
    void FillSpans(i64 rowBegin, i64 rowEnd, Emit&& emit) const {
        rowBegin = std::max(rowBegin, bounds_.y0);
        rowEnd = std::min(rowEnd, bounds_.y1 - 1);  // bottom rows belong to the outline only
        for (i64 y = rowBegin; y < rowEnd; ++y) {
            const int count = RowCrossings(y);
            int winding = 0;
            for (int k = 0; k + 1 < count; ++k) {
                winding = mode_ == FillMode::Winding ? winding + crossings_[k].dir : winding ^ 1;
                if (winding != 0 && crossings_[k + 1].x > crossings_[k].x) {
                    emit(y, crossings_[k].x, crossings_[k + 1].x);
                }
            }
        }
    }

    // plot(x, y) for the pen pixels inside clip: every edge, the closing one too, end excluded.
    template <class Plot>
    void OutlinePixels(const Box& clip, Plot&& plot) const {
        for (int i = 0; i < n_; ++i) {
            const int next = i + 1 == n_ ? 0 : i + 1;
            WalkSegment(X(i), Y(i), X(next), Y(next), clip, plot);
        }
    }

private:
    // Crossings of row y sorted left to right. Edges own the rows [top, bottom); horizontal
    // edges own none.
    int RowCrossings(i64 y) const {
        int count = 0;
        for (int i = 0; i < n_; ++i) {
            const int next = i + 1 == n_ ? 0 : i + 1;
            const i64 y0 = Y(i);
            const i64 y1 = Y(next);
            if (y0 == y1) continue;
            const bool down = y0 < y1;
            const int upper = down ? i : next;
            const int lower = down ? next : i;
            if (y < Y(upper) || y >= Y(lower)) continue;
            const Crossing crossing{CeilCrossing(X(upper), Y(upper), X(lower), Y(lower), y),
                                    down ? 1 : -1};
            int slot = count++;
            for (; slot > 0 && crossings_[slot - 1].x > crossing.x; --slot) {
                crossings_[slot] = crossings_[slot - 1];
            }
            crossings_[slot] = crossing;
        }
        return count;
    }

    const Point* pts_;
    int n_;
    FillMode mode_;
    Crossing* crossings_;  // room for n crossings
    i64 ox_;
    i64 oy_;
    Box bounds_;
};

// ---------------------------------------------------------------------------------------------
// Ellipses

// The integer walk GDI uses to trace a quarter of the ellipse inscribed in a w x h box, starting
// at the right end of the middle row and stepping out to the bottom row. i counts columns in
// from the right, j rows down from the middle.
class EllipseWalk {
public:
    EllipseWalk(i64 w, i64 h) {
        const i64 a = w - 1;
        const i64 b = h - 1;
        const i64 odd = b % 2;
        xGrow_ = 8 * b * b;
        yGrow_ = 8 * a * a;
        x_ = 4 * b * b * (1 - a);
        y_ = 4 * a * a * (1 + odd);
        e_ = x_ + y_ + odd * a * a;
    }

    i64 i() const { return i_; }
    i64 j() const { return j_; }

    // Advances one step; false if it could not move (which the walk's geometry rules out, but a
    // loop that cannot end must not exist).
    bool Step() {
        const i64 twice = 2 * e_;
        bool moved = false;
        if (twice >= x_) {
            ++i_;
            x_ += xGrow_;
            e_ += x_;
            moved = true;
        }
        if (twice <= y_) {
            ++j_;
            y_ += yGrow_;
            e_ += y_;
            rowStep_ = true;
            moved = true;
        } else {
            rowStep_ = false;
        }
        return moved;
    }

    bool SteppedRow() const { return rowStep_; }

private:
    i64 xGrow_ = 0;
    i64 yGrow_ = 0;
    i64 x_ = 0;
    i64 y_ = 0;
    i64 e_ = 0;
    i64 i_ = 0;
    i64 j_ = 0;
    bool rowStep_ = false;
};

// The walk's terms grow like 4 w h^2; boxes up to this size keep them far inside 63 bits. That is
// orders of magnitude beyond any canvas the plug-in can make; larger boxes draw nothing.
constexpr i64 kMaxEllipseSide = i64{1} << 17;

// An ellipse box of at least 3 x 3, in coordinates relative to its top-left corner.
class EllipseShape {
public:
    EllipseShape(i64 w, i64 h) : w_(w), h_(h) {}

    Box Bounds() const { return {0, 0, w_, h_}; }

    // emit(y, x0, x1): one span per row, [inset, w - inset). Rows come from the middle outwards,
    // each lower row with its mirror above. Rows the walk never reaches (only boxes far taller
    // than wide) stay empty.
    template <class Emit>
    void FillSpans(i64 rowBegin, i64 rowEnd, Emit&& emit) const {
        const auto row = [&](i64 y, i64 inset) {
            if (y >= rowBegin && y < rowEnd && inset < w_ - inset) emit(y, inset, w_ - inset);
        };
        const i64 middle = h_ / 2;
        row(middle, 0);
        if (h_ - 1 - middle != middle) row(h_ - 1 - middle, 0);
        EllipseWalk walk(w_, h_);
        while (walk.i() <= w_ / 2) {
            if (!walk.Step()) break;
            if (!walk.SteppedRow()) continue;
            const i64 y = middle + walk.j();
            if (y > h_ - 1) break;
            row(y, walk.i());
            row(h_ - 1 - y, walk.i());
        }
    }

    // plot(x, y): the pen pixels, the walk's points mirrored into all four quadrants.
    template <class Plot>
    void OutlinePixels(const Box& clip, Plot&& plot) const {
        const auto pixel = [&](i64 x, i64 y) {
            if (x >= clip.x0 && x < clip.x1 && y >= clip.y0 && y < clip.y1) plot(x, y);
        };
        const i64 middle = h_ / 2;
        EllipseWalk walk(w_, h_);
        while (w_ - 1 - walk.i() >= w_ / 2) {
            const i64 x = w_ - 1 - walk.i();
            const i64 y = middle + walk.j();
            if (y > h_ - 1) break;
            pixel(x, y);
            pixel(w_ - 1 - x, y);
            pixel(x, h_ - 1 - y);
            pixel(w_ - 1 - x, h_ - 1 - y);
            if (!walk.Step()) break;
        }
    }

private:
    i64 w_;
    i64 h_;
};

// ---------------------------------------------------------------------------------------------
// Drawing a shape straight onto the surface

// Brush first, then pen, as GDI paints them. With one colour this paints the union.
template <class Shape>
void DrawDirect(const Surface& surface, const Shape& shape, i64 anchorX, i64 anchorY, Colour pen,
                Colour brush) {
    const Painter brushPainter(surface, brush, anchorX, anchorY);
    const Box visible = brushPainter.Visible();
    shape.FillSpans(visible.y0, visible.y1,
                    [&](i64 y, i64 x0, i64 x1) { brushPainter.Run(y, x0, x1); });
    const Painter penPainter(surface, pen, anchorX, anchorY);
    shape.OutlinePixels(visible, [&](i64 x, i64 y) { penPainter.Pixel(x, y); });
}

}  // namespace raster::detail
