#include "raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

// How this rasteriser works.
//
// Every shape is rasterised relative to an anchor: the ellipse's top-left box corner or the
// polygon's first vertex. Rasterisation is exact integer arithmetic, so it commutes with integer
// translation, and a shape drawn at a new anchor is the same pixel set moved. Small shapes are
// therefore turned into rows of spans once (per thread) and reused; large or unusual shapes are
// rasterised straight onto the surface, only for the rows and columns that can land on it. Both
// routes call the same fill and outline generators, so they cannot disagree.

namespace standin::raster {
namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

i64 Abs(i64 v) { return v < 0 ? -v : v; }

// ---------------------------------------------------------------------------------------------
// Writing pixels

// One colour as three 8-byte words, word k holding the pixel bytes from byte k of a pixel on:
// a store that starts k bytes (mod 3) into a run writes word k. Kept in registers, so making one
// per shape costs a few shifts.
struct Pattern {
    u64 phase[3];
};

static_assert(std::endian::native == std::endian::little, "pixel words are built little-endian");

Pattern MakePattern(Colour colour) {
    // Blue, green, red: the byte order of a 24-bit DIB pixel, from COLORREF's 0x00BBGGRR.
    const u64 c = __builtin_bswap32(colour) >> 8;
    // Word 0 is b g r b g r b g; words 1 and 2 are it moved up two and one bytes, with the
    // pixel's tail (g r, then r) below.
    const u64 bgr = c * (1 | u64{1} << 24 | u64{1} << 48);
    return {{bgr, bgr << 16 | c >> 8, bgr << 8 | c >> 16}};
}

template <int N>
inline void Store(std::uint8_t* to, const Pattern& pattern, int phase) {
    std::memcpy(to, &pattern.phase[phase], N);
}

// Writes `count` pixels with 8-byte stores, the last one overlapping the one before: each store
// starts at a known phase of the pixel pattern, so bytes written twice get the same value.
// (16-byte stores measured slower on the circles and stars of raster_bench.)
inline void WriteRun(std::uint8_t* p, i64 count, const Pattern& pattern) {
    i64 bytes = 3 * count;
    for (; bytes > 24; bytes -= 24, p += 24) {
        Store<8>(p, pattern, 0);
        Store<8>(p + 8, pattern, 2);   // 8 = 2 (mod 3)
        Store<8>(p + 16, pattern, 1);  // 16 = 1 (mod 3)
    }
    // Here 3 <= bytes <= 24 and bytes = 0 (mod 3), so a store ending the run at bytes - k
    // starts at phase -k (mod 3).
    if (bytes >= 8) {
        Store<8>(p, pattern, 0);
        if (bytes > 16) Store<8>(p + 8, pattern, 2);
        Store<8>(p + bytes - 8, pattern, 1);
    } else if (bytes == 6) {
        Store<4>(p, pattern, 0);
        Store<4>(p + 2, pattern, 2);
    } else {
        Store<2>(p, pattern, 0);
        Store<2>(p + 1, pattern, 1);
    }
}

bool IsDrawable(const Surface& surface) {
    return surface.line0 != nullptr && surface.width > 0 && surface.height > 0;
}

// Half-open box [x0, x1) x [y0, y1).
struct Box {
    i64 x0, y0, x1, y1;
};

// Paints one colour at coordinates relative to an anchor, cropped to the surface.
class Painter {
public:
    Painter(const Surface& surface, Colour colour, i64 anchorX, i64 anchorY)
        : surface_(surface), pattern_(MakePattern(colour)), anchorX_(anchorX), anchorY_(anchorY) {}

    // The part of the surface, in anchor-relative coordinates.
    Box Visible() const {
        return {-anchorX_, -anchorY_, surface_.width - anchorX_, surface_.height - anchorY_};
    }

    void Run(i64 y, i64 x0, i64 x1) const {
        y += anchorY_;
        if (y < 0 || y >= surface_.height) return;
        x0 = std::max<i64>(x0 + anchorX_, 0);
        x1 = std::min<i64>(x1 + anchorX_, surface_.width);
        if (x0 >= x1) return;
        WriteRun(surface_.line0 + y * surface_.pitch + 3 * x0, x1 - x0, pattern_);
    }

    void Pixel(i64 x, i64 y) const { Run(y, x, x + 1); }

private:
    const Surface& surface_;
    Pattern pattern_;
    i64 anchorX_;
    i64 anchorY_;
};

// ---------------------------------------------------------------------------------------------
// One-pixel pen segments

// Minor-axis offset of the pixel at major step k of a segment `major` steps long whose minor
// extent is `minor` (|minor| <= major): the pixel nearest the ideal line and, on an exact tie,
// the one with the smaller coordinate whichever way the segment runs, as GDI does. With int32
// end points k < major < 2^32 and |minor| < 2^32, so the product fits an unsigned 64-bit word.
i64 MinorOffset(i64 k, i64 major, i64 minor) {
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
i64 CeilCrossing(i64 ux, i64 uy, i64 lx, i64 ly, i64 y) {
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

bool SameColour(Colour a, Colour b) { return ((a ^ b) & 0xFFFFFF) == 0; }

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

// ---------------------------------------------------------------------------------------------
// The per-thread geometry cache

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
    tCache = new GeometryCache();
    return *tCache;
}

GeometryCache& ThreadCache() { return tCache != nullptr ? *tCache : MakeThreadCache(); }

void SetMaskRun(GeometryCache& cache, i64 row, i64 x0, i64 x1) {
    u64* words = &cache.mask[static_cast<std::size_t>(row) * kMaskWords];
    for (i64 x = x0; x < x1; ++x) words[x >> 6] |= u64{1} << (x & 63);
}

// Turns the mask into spans at the end of the cache's storage; false when it is full.
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

// Fills the layer's runs from its spans, grouped by class.
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

int Layers(Colour pen, Colour brush) { return SameColour(pen, brush) ? 1 : 2; }

bool FitsCache(const Box& box) {
    return box.x1 - box.x0 <= kMaxCachedExtent && box.y1 - box.y0 <= kMaxCachedExtent;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public entry points

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
    if (tCacheEnabled && FitsCache(shape.Bounds())) {
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
    if (tCacheEnabled && n <= kMaxCachedVertices) {
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

void SetGeometryCacheEnabled(bool enabled) { tCacheEnabled = enabled; }

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

}  // namespace standin::raster
