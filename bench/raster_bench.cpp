// What one filter run at the default settings costs the rasteriser: 75,000 shapes of
// size 4 to 11 at random centres on a 1000 x 1000 canvas, each in its own colour.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster/hooks.h"
#include "render/shape_drawing.h"
#include "settings/settings.h"

namespace {

constexpr int kCanvas = 1000;
constexpr int kShapes = 75000;

struct Placement {
    int x, y, size;
    raster::Colour colour;
};

std::vector<Placement> Placements() {
    std::mt19937 rng(12345);
    std::vector<Placement> out;
    for (int i = 0; i < kShapes; ++i) {
        const int x = static_cast<int>(rng() % kCanvas);
        const int y = static_cast<int>(rng() % kCanvas);
        const int size = 4 + static_cast<int>(rng() % 8);
        out.push_back({x, y, size, static_cast<raster::Colour>(rng() & 0xFFFFFF)});
    }
    return out;
}

// The star's vertex offsets for each size, from the plug-in's own geometry.
std::vector<std::vector<raster::Point>> StarOffsets() {
    std::vector<std::vector<raster::Point>> bySize(12);
    for (int size = 4; size <= 11; ++size) {
        POINT vertices[kMaxVertices];
        const int count = PolygonVertices(Star, 0, 0, size, vertices);
        for (int k = 0; k < count; ++k) bySize[size].push_back({vertices[k].x, vertices[k].y});
    }
    return bySize;
}

class Canvas {
public:
    Canvas() : bytes_(static_cast<std::size_t>(kCanvas) * kCanvas * 3) {}
    raster::Surface Surface() {
        // Bottom-up, as the plug-in's DIB section.
        return {bytes_.data() + (kCanvas - 1) * kCanvas * 3, -kCanvas * 3, kCanvas, kCanvas};
    }

private:
    std::vector<std::uint8_t> bytes_;
};

void ReportPerShape(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kShapes);
    state.counters["per_shape"] = benchmark::Counter(
        kShapes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Circles(benchmark::State& state, bool cached) {
    raster::SetGeometryCacheEnabled(cached);
    const std::vector<Placement> placements = Placements();
    Canvas canvas;
    const raster::Surface surface = canvas.Surface();
    for (auto _ : state) {
        for (const Placement& p : placements) {
            const int r = p.size / 2;
            raster::DrawEllipse(surface, p.x - r, p.y - r, p.x + r, p.y + r, p.colour, p.colour);
        }
        benchmark::ClobberMemory();
    }
    raster::SetGeometryCacheEnabled(true);
    ReportPerShape(state);
}

void Stars(benchmark::State& state, bool cached) {
    raster::SetGeometryCacheEnabled(cached);
    const std::vector<Placement> placements = Placements();
    const auto offsets = StarOffsets();
    Canvas canvas;
    const raster::Surface surface = canvas.Surface();
    for (auto _ : state) {
        for (const Placement& p : placements) {
            raster::Point pts[5];
            for (int k = 0; k < 5; ++k) {
                pts[k] = {p.x + offsets[p.size][k].x, p.y + offsets[p.size][k].y};
            }
            raster::DrawPolygon(surface, pts, 5, raster::FillMode::Winding, p.colour, p.colour);
        }
        benchmark::ClobberMemory();
    }
    raster::SetGeometryCacheEnabled(true);
    ReportPerShape(state);
}

void BM_Circles(benchmark::State& state) { Circles(state, true); }
void BM_Stars(benchmark::State& state) { Stars(state, true); }
void BM_CirclesUncached(benchmark::State& state) { Circles(state, false); }
void BM_StarsUncached(benchmark::State& state) { Stars(state, false); }

// With --benchmark_repetitions=N the minimum is the figure to quote: on a shared machine the
// other repetitions mostly measure the neighbours.
double Minimum(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

}  // namespace

BENCHMARK(BM_Circles)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_Stars)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_CirclesUncached)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_StarsUncached)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Minimum);

BENCHMARK_MAIN();
