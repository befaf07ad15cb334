// The Linux hosts' filter stage: StippleBuffer on a 12-megapixel RGB picture, as moxel hands it
// over, at 1, 2 and all threads, beside the plug-in's own sequential run on the same picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "embed/stipple_buffer.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
            p[0] = static_cast<std::uint8_t>(y * 255 / kHeight);
            p[1] = (x / 64 + y / 64) % 2 ? 180 : 60;
            p[2] = static_cast<std::uint8_t>(x * 255 / kWidth);
        }
    }
    return rgb;
}

void FilterStage(benchmark::State& state, std::int32_t shape) {
    const std::vector<std::uint8_t> picture = Picture();
    std::vector<std::uint8_t> pixels(picture.size());
    const StippleSettings settings{kDefaultSettings.clearFirst, kDefaultSettings.minSize,
                                   kDefaultSettings.maxSize, kDefaultSettings.density, shape};
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        pixels = picture;
        state.ResumeTiming();
        const PixelBuffer buffer{pixels.data(), kWidth, kHeight, PixelLayout::Rgb};
        if (!StippleBuffer(buffer, settings, 7, {}, kDialogLimits, threads).done()) {
            state.SkipWithError("the run failed");
        }
        benchmark::DoNotOptimize(pixels.data());
    }
}

void ThreadCounts(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(2);
    const unsigned all = std::thread::hardware_concurrency();
    if (all > 2) b->Arg(all);
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
}

}  // namespace

BENCHMARK_CAPTURE(FilterStage, circle, Circle)->Apply(ThreadCounts);
BENCHMARK_CAPTURE(FilterStage, star, Star)->Apply(ThreadCounts);
BENCHMARK_MAIN();
