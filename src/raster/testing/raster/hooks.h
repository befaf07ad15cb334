// What only tests and benchmarks reach in the rasteriser: the polygon outline's line walk on its
// own, and the per-thread geometry cache's switch and counters.
#pragma once

#include "raster/raster.h"

namespace raster {

// For tests: MoveTo(from) + LineTo(to) with a 1-pixel solid pen, `from` drawn, `to` not. Nothing
// in MOXEL draws lines; this is the polygon outline's segment walk on its own, so the tests can
// hold each edge to GDI's rule apart from the fill.
void DrawLine(const Surface& surface, Point from, Point to, Colour pen);

// The run draws the same few geometries tens of thousands of times, so the coverage of each
// small shape is worked out once per thread and reused at every position. These hooks let tests
// prove that the reused coverage paints the same pixels as a fresh computation.
struct CacheStats {
    std::uint64_t hits;
    std::uint64_t misses;
    std::uint64_t flushes;
    int entries;
};

// Affects the calling thread only. Disabled, every shape is rasterised straight onto the surface.
void SetGeometryCacheEnabled(bool enabled);
CacheStats GetGeometryCacheStats();
void ResetGeometryCache();

}  // namespace raster
