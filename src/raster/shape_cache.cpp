#include "shape_cache.h"

namespace raster::detail {
namespace {

thread_local bool tCacheEnabled = true;

// This thread's cache, made on first use. Every cached shape reads the plain pointer; only the
// owner, touched once, has a destructor, and it frees the cache when the thread ends.
constinit thread_local GeometryCache* tCache = nullptr;

[[gnu::noinline]] GeometryCache& MakeThreadCache() {
    struct Owner {
        ~Owner() {
            delete tCache;
            tCache = nullptr;
        }
    };
    thread_local Owner owner;
    // Default-initialised: the span stores and the mask are written before they are read, and
    // clearing their megabyte would cost every new drawing thread its page faults first.
    tCache = new GeometryCache;
    return *tCache;
}

}  // namespace

bool CacheEnabled() { return tCacheEnabled; }

void SetCacheEnabled(bool enabled) { tCacheEnabled = enabled; }

GeometryCache& ThreadCache() { return tCache != nullptr ? *tCache : MakeThreadCache(); }

bool StoreMaskLayer(GeometryCache& cache, const Box& box, std::uint32_t& first,
                    std::uint32_t& count) {
    first = static_cast<std::uint32_t>(cache.spansUsed);
    const int rows = static_cast<int>(box.y1 - box.y0);
    for (int y = 0; y < rows; ++y) {
        const u64* words = &cache.mask[static_cast<std::size_t>(y) * kMaskWords];
        const auto set = [&](int at) { return (words[at >> 6] >> (at & 63)) & 1; };
        int x = 0;
        while (x < kMaxCachedExtent) {
            if (!set(x)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < kMaxCachedExtent && set(x)) ++x;
            if (cache.spansUsed == kSpanCapacity) return false;
            cache.spans[cache.spansUsed++] = {static_cast<std::int16_t>(box.y0 + y),
                                              static_cast<std::int16_t>(box.x0 + start),
                                              static_cast<std::int16_t>(box.x0 + x)};
        }
    }
    count = static_cast<std::uint32_t>(cache.spansUsed) - first;
    return true;
}

constexpr int kShortRunBytes = 6;    // one or two pixels
constexpr int kMediumRunBytes = 24;  // up to eight

void CompileRuns(GeometryCache& cache, Entry& entry, int layer) {
    const Span* const spans = cache.spans.data() + entry.first[layer];
    PaintRun* run = cache.runs.data() + entry.first[layer];
    const auto add = [&](int minBytes, int maxBytes, int store) {
        std::uint32_t added = 0;
        for (const Span* span = spans; span != spans + entry.count[layer]; ++span) {
            const int bytes = 3 * (span->x1 - span->x0);
            if (bytes < minBytes || bytes > maxBytes) continue;
            const int middle = std::min(store, std::max(bytes - store, 0));
            *run++ = {span->y, static_cast<std::int16_t>(3 * span->x0),
                      static_cast<std::int16_t>(bytes), static_cast<std::uint8_t>(middle),
                      middle % 3 == 2};
            ++added;
        }
        return added;
    };
    entry.shortRuns[layer] = add(1, kShortRunBytes, 2);
    entry.mediumRuns[layer] = add(kShortRunBytes + 1, kMediumRunBytes, 8);
    add(kMediumRunBytes + 1, 3 * kMaxCachedExtent, 0);
}

void PaintLayer(const Surface& surface, const GeometryCache& cache, const Entry& entry, int layer,
                i64 anchorX, i64 anchorY, Colour colour) {
    const Pattern pattern = MakePattern(colour);
    const Span* span = cache.spans.data() + entry.first[layer];
    const Span* const end = span + entry.count[layer];
    if (anchorX + entry.left >= 0 && anchorX + entry.right <= surface.width &&
        anchorY + entry.top >= 0 && anchorY + entry.bottom <= surface.height) {
        // Nearly every shape lies clear of the surface's edges: nothing to crop. The anchor is
        // inside the box, so it is a pixel of the surface too.
        const std::ptrdiff_t pitch = surface.pitch;
        std::uint8_t* const origin = surface.line0 + anchorY * pitch + 3 * anchorX;
        const PaintRun* run = cache.runs.data() + entry.first[layer];
        const PaintRun* const runsEnd = run + entry.count[layer];
        for (const PaintRun* const end = run + entry.shortRuns[layer]; run != end; ++run) {
            std::uint8_t* const p = origin + run->y * pitch + run->start;
            Store<2>(p, pattern, 0);
            Store<2>(p + run->middle, pattern, run->middleAtPhase2 ? 2 : 1);
            Store<2>(p + run->bytes - 2, pattern, 1);
        }
        for (const PaintRun* const end = run + entry.mediumRuns[layer]; run != end; ++run) {
            std::uint8_t* const p = origin + run->y * pitch + run->start;
            Store<8>(p, pattern, 0);
            Store<8>(p + run->middle, pattern, run->middleAtPhase2 ? 2 : 1);
            Store<8>(p + run->bytes - 8, pattern, 1);
        }
        for (; run != runsEnd; ++run) {
            WriteRun(origin + run->y * pitch + run->start, run->bytes / 3, pattern);
        }
        return;
    }
    for (; span != end; ++span) {
        const i64 y = anchorY + span->y;
        if (y < 0 || y >= surface.height) continue;
        const i64 x0 = std::max<i64>(anchorX + span->x0, 0);
        const i64 x1 = std::min<i64>(anchorX + span->x1, surface.width);
        if (x0 < x1) WriteRun(surface.line0 + y * surface.pitch + 3 * x0, x1 - x0, pattern);
    }
}

}  // namespace raster::detail
