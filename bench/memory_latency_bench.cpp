// How long one random memory access takes on this machine, by working-set size: a pointer chase
// through a random cycle of cache lines, so every load waits for the one before. Where the time
// jumps is the end of the caches the process really gets, which bounds a run whose random
// working set (the host's image plus the canvas) is larger.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kLineWords = 64 / sizeof(std::size_t);

void RandomAccess(benchmark::State& state) {
    const std::size_t lines = static_cast<std::size_t>(state.range(0)) * 1024 / 64;
    std::vector<std::size_t> order(lines);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    // Each line holds the index of the next line in the cycle.
    std::vector<std::size_t> next(lines * kLineWords);
    for (std::size_t i = 0; i < lines; ++i) {
        next[order[i] * kLineWords] = order[(i + 1) % lines] * kLineWords;
    }
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines; ++i) at = next[at];  // warm up
    constexpr int kSteps = 1 << 16;
    for (auto _ : state) {
        for (int i = 0; i < kSteps; ++i) at = next[at];
        benchmark::DoNotOptimize(at);
    }
    state.counters["per_access"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSteps,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

// Working sets from 256 KiB to 64 MiB.
BENCHMARK(RandomAccess)->RangeMultiplier(2)->Range(256, 64 * 1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
