// Writing pixels: a colour as store-ready words, runs of it written with overlapping stores, and
// the painter that crops anchor-relative runs to the surface.
#pragma once

#include <algorithm>
#include <bit>
#include <cstring>

#include "raster/raster.h"

namespace raster::detail {

using i64 = std::int64_t;
using u64 = std::uint64_t;

inline i64 Abs(i64 v) { return v < 0 ? -v : v; }

// One colour as three 8-byte words, word k holding the pixel bytes from byte k of a pixel on:
// a store that starts k bytes (mod 3) into a run writes word k. Kept in registers, so making one
// per shape costs a few shifts.
struct Pattern {
    u64 phase[3];
};

static_assert(std::endian::native == std::endian::little, "pixel words are built little-endian");

inline Pattern MakePattern(Colour colour) {
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

inline bool IsDrawable(const Surface& surface) {
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

// Pen and brush match when their pixels do: COLORREF's top byte is not drawn.
inline bool SameColour(Colour a, Colour b) { return ((a ^ b) & 0xFFFFFF) == 0; }

}  // namespace raster::detail
