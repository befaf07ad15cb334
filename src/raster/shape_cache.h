// The per-thread geometry cache: each small shape's coverage, worked out once as rows of spans and
// painted from there at every anchor it is drawn at.
#pragma once

#include <array>

#include "pixels.h"
#include "raster/hooks.h"

namespace raster::detail {

constexpr int kMaxCachedVertices = 8;
constexpr int kMaxCachedExtent = 512;  // columns and rows of a cached shape's box
constexpr int kMaskWords = kMaxCachedExtent / 64;
constexpr int kSlots = 1024;  // a power of two, twice kMaxEntries so probes stay short
constexpr int kMaxEntries = 512;
constexpr int kSpanCapacity = 1 << 16;

// One run of pixels [x0, x1) in one row, relative to the shape's anchor. A layer is a flat list of
// these, row by row: what a shape that must be cropped is painted from.
struct Span {
    std::int16_t y;
    std::int16_t x0;
    std::int16_t x1;
};

// A span with its stores worked out, for shapes clear of the surface's edges. A run of one or two
// pixels takes three 2-byte stores and one of three to eight pixels three 8-byte stores: at its
// start, at `middle` and ending at its end, overlapping where the run is shorter. So every run of
// a class is painted the same way, with nothing to decide.
struct PaintRun {
    std::int16_t y;
    std::int16_t start;  // 3 * x0
    std::int16_t bytes;  // 3 * (x1 - x0)
    std::uint8_t middle;
    bool middleAtPhase2;  // else at phase 1
};

// A shape relative to its anchor, packed into 32-bit words: the first says what kind of shape it
// is, how many layers it has and how many words follow; each further word is a pair of 16-bit
// numbers (ellipse w and h; a polygon vertex's offset from the first). The words are written and
// read whole, so building a key and comparing it never stalls on mismatched stores and loads.
class Key {
public:
    enum Kind : std::uint32_t { kEllipse = 1, kPolygon = 2 };

    Key() = default;
    // layers 1: pen and brush share a colour, one union; 2: brush, then pen.
    Key(Kind kind, int layers, int mode, int count)
        : words_{kind | static_cast<std::uint32_t>(layers) << 8 |
                 static_cast<std::uint32_t>(mode) << 16 | static_cast<std::uint32_t>(count) << 24},
          used_(1) {}

    void Add(i64 a, i64 b) {
        words_[used_++] = static_cast<std::uint16_t>(a) |
                          static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16;
    }

    int Layers() const { return (words_[0] >> 8) & 0xFF; }

    // Independent products summed, rather than a chain of dependent multiplies: the hash sits
    // between the caller's coordinates and the first store of the shape.
    std::uint32_t Hash() const {
        static constexpr u64 kOdd[kMaxCachedVertices] = {
            0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
            0xD6E8FEB86659FD93ull, 0xFF51AFD7ED558CCDull, 0xC4CEB9FE1A85EC53ull,
            0x94D049BB133111EBull, 0xBF58476D1CE4E5B9ull};
        u64 sum = 0;
        for (int i = 0; i < used_; ++i) sum += words_[i] * kOdd[i];
        sum ^= sum >> 32;
        return static_cast<std::uint32_t>(sum ^ sum >> 15);
    }

    bool operator==(const Key& other) const {
        if (used_ != other.used_) return false;
        for (int i = 0; i < used_; ++i) {
            if (words_[i] != other.words_[i]) return false;
        }
        return true;
    }

private:
    std::uint32_t words_[kMaxCachedVertices] = {};  // a polygon needs 1 + (n - 1) words
    int used_ = 0;
};

struct Entry {
    Key key;
    std::uint32_t generation = 0;  // live only while it equals the cache's generation
    // The box [left, right) x [top, bottom) holds every span, relative to the anchor.
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    std::uint32_t first[2] = {};  // per layer: its spans are spans[first, first + count)
    std::uint32_t count[2] = {};
    // The same spans as runs, in runs[first, first + count): the short ones, then the medium
    // ones, then the rest.
    std::uint32_t shortRuns[2] = {};
    std::uint32_t mediumRuns[2] = {};
};

struct GeometryCache {
    std::array<Entry, kSlots> slots;
    std::uint32_t generation = 1;
    int entries = 0;
    std::array<Span, kSpanCapacity> spans;
    std::array<PaintRun, kSpanCapacity> runs;  // alongside spans, one run for each
    int spansUsed = 0;
    std::array<u64, kMaxCachedExtent * kMaskWords> mask;  // scratch for building one layer
    CacheStats stats{};

    void Flush() {
        if (++generation == 0) {  // after 2^32 flushes old entries could look live again
            for (Entry& entry : slots) entry.generation = 0;
            generation = 1;
        }
        entries = 0;
        spansUsed = 0;
        ++stats.flushes;
    }
};

// The calling thread's switch and cache (shape_cache.cpp); the cache is made on first use.
bool CacheEnabled();
void SetCacheEnabled(bool enabled);
GeometryCache& ThreadCache();

inline void SetMaskRun(GeometryCache& cache, i64 row, i64 x0, i64 x1) {
    u64* words = &cache.mask[static_cast<std::size_t>(row) * kMaskWords];
    for (i64 x = x0; x < x1; ++x) words[x >> 6] |= u64{1} << (x & 63);
}

// Turns the mask into spans at the end of the cache's storage; false when it is full.
bool StoreMaskLayer(GeometryCache& cache, const Box& box, std::uint32_t& first,
                    std::uint32_t& count);

// Fills the layer's runs from its spans, grouped by class.
void CompileRuns(GeometryCache& cache, Entry& entry, int layer);

// Paints one layer of a cached shape at the anchor, cropped to the surface.
void PaintLayer(const Surface& surface, const GeometryCache& cache, const Entry& entry, int layer,
                i64 anchorX, i64 anchorY, Colour colour);

// Rasterises a shape that fits kMaxCachedExtent into the cache's storage.
template <class Shape>
bool BuildCoverage(GeometryCache& cache, const Shape& shape, int layers, Entry& entry) {
    const Box box = shape.Bounds();
    entry.left = static_cast<std::int32_t>(box.x0);
    entry.top = static_cast<std::int32_t>(box.y0);
    entry.right = static_cast<std::int32_t>(box.x1);
    entry.bottom = static_cast<std::int32_t>(box.y1);
    for (int layer = 0; layer < layers; ++layer) {
        const bool fill = layers == 1 || layer == 0;
        const bool outline = layers == 1 || layer == 1;
        std::fill_n(cache.mask.begin(), static_cast<std::size_t>(box.y1 - box.y0) * kMaskWords,
                    u64{0});
        if (fill) {
            shape.FillSpans(box.y0, box.y1, [&](i64 y, i64 x0, i64 x1) {
                SetMaskRun(cache, y - box.y0, x0 - box.x0, x1 - box.x0);
            });
        }
        if (outline) {
            shape.OutlinePixels(box, [&](i64 x, i64 y) {
                SetMaskRun(cache, y - box.y0, x - box.x0, x - box.x0 + 1);
            });
        }
        if (!StoreMaskLayer(cache, box, entry.first[layer], entry.count[layer])) return false;
        CompileRuns(cache, entry, layer);
    }
    return true;
}

// The cached coverage for `key`; on a miss build(cache, entry) rasterises the shape into the
// cache's storage. Null if the shape cannot be stored.
template <class Build>
const Entry* FindOrBuild(GeometryCache& cache, const Key& key, Build&& build) {
    const std::uint32_t hash = key.Hash();
    for (std::uint32_t slot = hash & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
        const Entry& entry = cache.slots[slot];
        if (entry.generation != cache.generation) break;
        if (entry.key == key) {
            ++cache.stats.hits;
            return &entry;
        }
    }
    ++cache.stats.misses;

    if (cache.entries == kMaxEntries) cache.Flush();
    Entry built;
    built.key = key;
    if (!build(cache, built)) {
        cache.Flush();  // storage full: start again with an empty cache
        if (!build(cache, built)) {
            cache.spansUsed = 0;  // drop the partial layers; the cache holds nothing else now
            return nullptr;
        }
    }
    built.generation = cache.generation;
    std::uint32_t slot = hash & (kSlots - 1);
    while (cache.slots[slot].generation == cache.generation) slot = (slot + 1) & (kSlots - 1);
    cache.slots[slot] = built;
    ++cache.entries;
    return &cache.slots[slot];
}

// Draws the shape `key` describes from the cache, building its coverage on a miss with
// build(cache, entry); false if it could not be stored, and the caller must draw it directly.
template <class Build>
bool DrawCached(const Surface& surface, const Key& key, i64 anchorX, i64 anchorY, Colour pen,
                Colour brush, Build&& build) {
    GeometryCache& cache = ThreadCache();
    const Entry* entry = FindOrBuild(cache, key, build);
    if (entry == nullptr) return false;
    if (key.Layers() == 1) {
        PaintLayer(surface, cache, *entry, 0, anchorX, anchorY, pen);
    } else {
        PaintLayer(surface, cache, *entry, 0, anchorX, anchorY, brush);
        PaintLayer(surface, cache, *entry, 1, anchorX, anchorY, pen);
    }
    return true;
}

inline int Layers(Colour pen, Colour brush) { return SameColour(pen, brush) ? 1 : 2; }

inline bool FitsCache(const Box& box) {
    return box.x1 - box.x0 <= kMaxCachedExtent && box.y1 - box.y0 <= kMaxCachedExtent;
}

}  // namespace raster::detail
