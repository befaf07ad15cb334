#include "raster/raster.h"

#include <array>
#include <vector>

#include "raster/hooks.h"
#include "scan.h"
#include "shape_cache.h"

// How this rasteriser works.
//
// Every shape is rasterised relative to an anchor: the ellipse's top-left box corner or the
// polygon's first vertex. Rasterisation is exact integer arithmetic, so it commutes with integer
// translation, and a shape drawn at a new anchor is the same pixel set moved. Small shapes are
// therefore turned into rows of spans once (per thread) and reused; large or unusual shapes are
// rasterised straight onto the surface, only for the rows and columns that can land on it. Both
// routes call the same fill and outline generators, so they cannot disagree.
//
// pixels.h writes runs of one colour; scan.h walks each shape's edges and rows and paints them
// directly; shape_cache.h and shape_cache.cpp keep the small shapes' coverage per thread.

namespace raster {

using namespace detail;

void FillRect(const Surface& surface, int left, int top, int right, int bottom, Colour colour) {
    if (!IsDrawable(surface)) return;
    // GDI paints the rectangle as a pattern blit from (left, top) across right - left columns and
    // bottom - top rows; a negative count runs back from the start pixel, which stays included.
    const auto cover = [](i64 start, i64 end, i64& from, i64& to) {
        from = start <= end ? start : end + 1;
        to = start <= end ? end : start + 1;
    };
    i64 x0, x1, y0, y1;
    cover(left, right, x0, x1);
    cover(top, bottom, y0, y1);
    const Painter painter(surface, colour, 0, 0);
    for (i64 y = std::max<i64>(y0, 0); y < std::min<i64>(y1, surface.height); ++y) {
        painter.Run(y, x0, x1);
    }
}

void DrawLine(const Surface& surface, Point from, Point to, Colour pen) {
    if (!IsDrawable(surface)) return;
    const Painter painter(surface, pen, from.x, from.y);
    WalkSegment(0, 0, i64{to.x} - from.x, i64{to.y} - from.y, painter.Visible(),
                [&](i64 x, i64 y) { painter.Pixel(x, y); });
}

void DrawEllipse(const Surface& surface, int left, int top, int right, int bottom, Colour pen,
                 Colour brush) {
    if (!IsDrawable(surface)) return;
    const i64 l = std::min(left, right);
    const i64 t = std::min(top, bottom);
    const i64 w = i64{std::max(left, right)} - l;
    const i64 h = i64{std::max(top, bottom)} - t;
    if (w == 0 || h == 0) return;
    if (w <= 2 || h <= 2) {
        // GDI draws these as a rectangle; a 1-pixel pen outline then covers the whole box, and
        // a 1 x 1 box comes out empty.
        if (w == 1 && h == 1) return;
        const Painter painter(surface, pen, l, t);
        for (i64 y = std::max<i64>(0, -t); y < std::min<i64>(h, surface.height - t); ++y) {
            painter.Run(y, 0, w);
        }
        return;
    }
    if (w > kMaxEllipseSide || h > kMaxEllipseSide) return;

    const EllipseShape shape(w, h);
    if (CacheEnabled() && FitsCache(shape.Bounds())) {
        Key key(Key::kEllipse, Layers(pen, brush), 0, 0);
        key.Add(w, h);
        const auto build = [&](GeometryCache& cache, Entry& entry) {
            return BuildCoverage(cache, shape, key.Layers(), entry);
        };
        if (DrawCached(surface, key, l, t, pen, brush, build)) return;
    }
    DrawDirect(surface, shape, l, t, pen, brush);
}

void DrawPolygon(const Surface& surface, const Point* pts, int n, FillMode mode, Colour pen,
                 Colour brush) {
    if (!IsDrawable(surface) || pts == nullptr || n < 2) return;
    std::array<Crossing, 64> local;
    if (CacheEnabled() && n <= kMaxCachedVertices) {
        // Key and extent in one pass; a hit needs nothing else of the polygon.
        Key key(Key::kPolygon, Layers(pen, brush), static_cast<int>(mode), n);
        i64 minX = 0, maxX = 0, minY = 0, maxY = 0;
        for (int i = 1; i < n; ++i) {
            const i64 x = i64{pts[i].x} - pts[0].x;
            const i64 y = i64{pts[i].y} - pts[0].y;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
            key.Add(x, y);
        }
        if (FitsCache({minX, minY, maxX + 1, maxY + 1})) {  // and so every offset fits the key
            const auto build = [&](GeometryCache& cache, Entry& entry) {
                const PolygonShape shape(pts, n, mode, local.data());
                return BuildCoverage(cache, shape, key.Layers(), entry);
            };
            if (DrawCached(surface, key, pts[0].x, pts[0].y, pen, brush, build)) return;
        }
    }
    std::vector<Crossing> large;  // only polygons with more than 64 vertices pay for this
    Crossing* crossings = local.data();
    if (n > static_cast<int>(local.size())) {
        large.resize(static_cast<std::size_t>(n));
        crossings = large.data();
    }
    const PolygonShape shape(pts, n, mode, crossings);
    DrawDirect(surface, shape, pts[0].x, pts[0].y, pen, brush);
}

void SetGeometryCacheEnabled(bool enabled) { SetCacheEnabled(enabled); }

CacheStats GetGeometryCacheStats() {
    const GeometryCache& cache = ThreadCache();
    CacheStats stats = cache.stats;
    stats.entries = cache.entries;
    return stats;
}

void ResetGeometryCache() {
    GeometryCache& cache = ThreadCache();
    cache.Flush();
    cache.stats = {};
}

}  // namespace raster
