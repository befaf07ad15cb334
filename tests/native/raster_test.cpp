// Pixel tests for the rasteriser. The exact pixels were checked against real GDI
// under Wine (tests/windows/gdi_fidelity_test.cpp); these tests pin the rules down natively and
// compare the fast paths against a slow per-pixel reference written here from the same rules.
#include "raster/hooks.h"
#include "render/shape_drawing.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using raster::Colour;
using raster::FillMode;
using raster::Point;

namespace {

constexpr Colour kInk = 0x123456;
constexpr Colour kPen = 0x0000FF;
constexpr Colour kBrush = 0x00FF00;

// A 24-bit image laid out like a DIB section: rows padded to four bytes, stored bottom-up by
// default, with the padding bytes filled so a stray write shows.
class Image {
public:
    Image(int width, int height, bool bottomUp = true)
        : width_(width),
          height_(height),
          stride_((width * 3 + 3) & ~3),
          bottomUp_(bottomUp),
          bytes_(static_cast<std::size_t>(stride_) * height, 0xEE) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) Set(x, y, 0);
        }
    }

    raster::Surface Surface() {
        if (bottomUp_) return {bytes_.data() + (height_ - 1) * stride_, -stride_, width_, height_};
        return {bytes_.data(), stride_, width_, height_};
    }

    int Width() const { return width_; }
    int Height() const { return height_; }

    Colour At(int x, int y) const {
        const std::uint8_t* p = Row(y) + 3 * x;
        return p[2] | (p[1] << 8) | (p[0] << 16);
    }

    void Set(int x, int y, Colour c) {
        std::uint8_t* p = Row(y) + 3 * x;
        p[0] = static_cast<std::uint8_t>(c >> 16);
        p[1] = static_cast<std::uint8_t>(c >> 8);
        p[2] = static_cast<std::uint8_t>(c);
    }

    bool PaddingUntouched() const {
        for (int y = 0; y < height_; ++y) {
            for (int i = width_ * 3; i < stride_; ++i) {
                if (Row(y)[i] != 0xEE) return false;
            }
        }
        return true;
    }

    // One character per pixel: '.' background, '#' kInk, 'P' kPen, 'b' kBrush, '?' other.
    std::string Picture() const {
        std::string out;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                const Colour c = At(x, y);
                out += c == 0 ? '.' : c == kInk ? '#' : c == kPen ? 'P' : c == kBrush ? 'b' : '?';
            }
            out += '\n';
        }
        return out;
    }

    int Count(Colour c) const {
        int n = 0;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) n += At(x, y) == c;
        }
        return n;
    }

    bool operator==(const Image& other) const { return bytes_ == other.bytes_; }

private:
    const std::uint8_t* Row(int y) const {
        return bytes_.data() + (bottomUp_ ? height_ - 1 - y : y) * stride_;
    }
    std::uint8_t* Row(int y) { return bytes_.data() + (bottomUp_ ? height_ - 1 - y : y) * stride_; }

    int width_;
    int height_;
    int stride_;
    bool bottomUp_;
    std::vector<std::uint8_t> bytes_;
};

// The plug-in's own shape geometry: kind 0 is the circle's box, kinds 1-5 the polygons.
std::vector<Point> ProjectVertices(int kind, int size, int cx, int cy) {
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, cx, cy, size, vertices);
    std::vector<Point> pts;
    for (int k = 0; k < count; ++k) pts.push_back({vertices[k].x, vertices[k].y});
    return pts;
}

void DrawProjectShape(Image& image, int kind, int size, int cx, int cy, Colour pen, Colour brush) {
    if (kind == 0) {
        const int r = size / 2;
        raster::DrawEllipse(image.Surface(), cx - r, cy - r, cx + r, cy + r, pen, brush);
        return;
    }
    const std::vector<Point> pts = ProjectVertices(kind, size, cx, cy);
    raster::DrawPolygon(image.Surface(), pts.data(), static_cast<int>(pts.size()),
                        FillMode::Winding, pen, brush);
}

// ---------------------------------------------------------------------------------------------
// A slow reference, pixel by pixel, in 128-bit arithmetic so that no input can overflow it.

using i64 = std::int64_t;
using i128 = __int128;

i128 FloorDiv(i128 a, i128 b) {  // b > 0
    const i128 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// Is (x, y) inside the polygon by the fill rule: edges own rows [top, bottom), and a pixel
// counts the edges crossing its row at or left of its sample point.
bool RefFilled(const std::vector<Point>& p, FillMode mode, i64 x, i64 y) {
    int winding = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const Point a = p[i];
        const Point b = p[(i + 1) % p.size()];
        if (a.y == b.y) continue;
        const Point top = a.y < b.y ? a : b;
        const Point bottom = a.y < b.y ? b : a;
        if (y < top.y || y >= bottom.y) continue;
        const i128 height = i128{bottom.y} - top.y;
        const i128 edgeX = i128{top.x} * height + (i128{y} - top.y) * (i128{bottom.x} - top.x);
        if (edgeX <= i128{x} * height) {
            winding += a.y < b.y ? 1 : -1;
            ++crossings;
        }
    }
    return mode == FillMode::Winding ? winding != 0 : crossings % 2 == 1;
}

// Is (x, y) drawn by the pen segment a -> b: one pixel per major step, the nearest to the ideal
// line, ties to the smaller minor coordinate, the end point left out.
bool RefOnSegment(Point a, Point b, i64 x, i64 y) {
    const i128 dx = i128{b.x} - a.x;
    const i128 dy = i128{b.y} - a.y;
    const bool xMajor = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy);
    const i128 majorDelta = xMajor ? dx : dy;
    const i128 major = majorDelta < 0 ? -majorDelta : majorDelta;
    if (major == 0) return false;
    const i128 minor = xMajor ? dy : dx;
    const i128 along = xMajor ? i128{x} - a.x : i128{y} - a.y;
    const i128 k = majorDelta > 0 ? along : -along;
    if (k < 0 || k >= major) return false;
    // nearest with ties down: ceil((2 k minor - major) / (2 major))
    const i128 offset = -FloorDiv(-(2 * k * minor - major), 2 * major);
    return (xMajor ? i128{y} - a.y : i128{x} - a.x) == offset;
}

// The pen's pixels as GDI's integer form of the same rule computes them, step by step.
std::set<std::pair<int, int>> RefSegmentPixels(Point a, Point b) {
    std::set<std::pair<int, int>> out;
    const int dx = b.x - a.x;
    const int dy = b.y - a.y;
    const bool xMajor = std::abs(dx) > std::abs(dy);
    const int major = xMajor ? std::abs(dx) : std::abs(dy);
    const int minor = xMajor ? std::abs(dy) : std::abs(dx);
    const int majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const int minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
    int x = a.x;
    int y = a.y;
    int off = 0;
    for (int i = 0; i < major; ++i) {
        out.insert({x, y});
        off += 2 * minor;
        if (off > major || (off == major && minorStep < 0)) {
            off -= 2 * major;
            (xMajor ? y : x) += minorStep;
        }
        (xMajor ? x : y) += majorStep;
    }
    return out;
}

Image RefPolygon(int width, int height, const std::vector<Point>& p, FillMode mode, Colour pen,
                 Colour brush, bool smallCoordinates) {
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (RefFilled(p, mode, x, y)) image.Set(x, y, brush);
        }
    }
    for (std::size_t i = 0; i < p.size(); ++i) {
        const Point a = p[i];
        const Point b = p[(i + 1) % p.size()];
        if (smallCoordinates) {
            for (auto [x, y] : RefSegmentPixels(a, b)) {
                if (x >= 0 && x < width && y >= 0 && y < height) image.Set(x, y, pen);
            }
            continue;
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (RefOnSegment(a, b, x, y)) image.Set(x, y, pen);
            }
        }
    }
    return image;
}

std::uint32_t Next(std::mt19937& rng, std::uint32_t bound) { return rng() % bound; }

// The circle insets GDI gives a box of 2r x 2r, top half, row 0 first (Wine's own masks).
constexpr const char* kCircleInsets = R"(
r=2: 1 0
r=3: 2 1 0
r=4: 2 1 0 0
r=5: 3 2 1 0 0
r=6: 4 2 1 1 0 0
r=7: 5 3 2 1 1 0 0
r=8: 5 4 2 2 1 0 0 0
r=9: 6 4 3 2 1 1 0 0 0
r=10: 7 5 4 3 2 1 1 0 0 0
r=11: 8 6 4 3 2 2 1 1 0 0 0
r=12: 9 6 5 4 3 2 1 1 1 0 0 0
r=13: 10 7 6 4 3 3 2 1 1 1 0 0 0
r=14: 10 8 6 5 4 3 2 2 1 1 0 0 0 0
r=15: 11 9 7 6 5 4 3 2 2 1 1 0 0 0 0
r=16: 12 9 8 6 5 4 3 3 2 1 1 1 0 0 0 0
r=17: 13 10 8 7 6 5 4 3 2 2 1 1 1 0 0 0 0
r=18: 14 11 9 8 6 5 4 4 3 2 2 1 1 1 0 0 0 0
r=19: 15 12 10 8 7 6 5 4 3 3 2 2 1 1 1 0 0 0 0
r=20: 16 13 10 9 8 6 5 5 4 3 2 2 2 1 1 1 0 0 0 0
r=21: 17 13 11 10 8 7 6 5 4 4 3 2 2 1 1 1 1 0 0 0 0
r=22: 17 14 12 10 9 8 7 6 5 4 3 3 2 2 1 1 1 0 0 0 0 0
r=23: 18 15 13 11 10 8 7 6 5 5 4 3 3 2 2 1 1 1 0 0 0 0 0
r=24: 19 16 13 12 10 9 8 7 6 5 4 4 3 2 2 2 1 1 1 0 0 0 0 0
r=25: 20 17 14 12 11 10 8 7 6 6 5 4 3 3 2 2 2 1 1 1 0 0 0 0 0
r=26: 21 17 15 13 12 10 9 8 7 6 5 5 4 3 3 2 2 1 1 1 1 0 0 0 0 0
r=27: 22 18 16 14 12 11 10 9 8 7 6 5 4 4 3 3 2 2 1 1 1 1 0 0 0 0 0
r=28: 23 19 17 15 13 12 10 9 8 7 6 6 5 4 4 3 3 2 2 1 1 1 1 0 0 0 0 0
r=29: 24 20 17 15 14 12 11 10 9 8 7 6 5 5 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0
r=30: 25 21 18 16 14 13 12 10 9 8 7 7 6 5 4 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0
r=31: 26 22 19 17 15 14 12 11 10 9 8 7 6 6 5 4 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0
r=32: 26 22 20 18 16 14 13 12 10 9 8 8 7 6 5 5 4 4 3 3 2 2 1 1 1 1 0 0 0 0 0 0
r=33: 27 23 21 18 17 15 14 12 11 10 9 8 7 7 6 5 5 4 3 3 3 2 2 1 1 1 1 0 0 0 0 0 0
r=34: 28 24 21 19 17 16 14 13 12 11 10 9 8 7 6 6 5 4 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0 0
r=35: 29 25 22 20 18 16 15 14 12 11 10 9 8 8 7 6 5 5 4 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0 0
r=36: 30 26 23 21 19 17 16 14 13 12 11 10 9 8 7 7 6 5 5 4 4 3 3 2 2 2 1 1 1 1 0 0 0 0 0 0
r=37: 31 27 24 21 19 18 16 15 14 12 11 10 9 9 8 7 6 6 5 4 4 3 3 3 2 2 2 1 1 1 1 0 0 0 0 0 0
r=38: 32 28 25 22 20 18 17 16 14 13 12 11 10 9 8 8 7 6 5 5 4 4 3 3 3 2 2 2 1 1 1 1 0 0 0 0 0 0
r=39: 33 28 25 23 21 19 18 16 15 14 13 12 11 10 9 8 7 7 6 5 5 4 4 3 3 2 2 2 1 1 1 1 1 0 0 0 0 0 0
r=40: 34 29 26 24 22 20 18 17 16 14 13 12 11 10 9 9 8 7 6 6 5 5 4 4 3 3 2 2 2 1 1 1 1 1 0 0 0 0 0 0
)";

std::vector<std::pair<int, std::vector<int>>> ParseCircleInsets() {
    std::vector<std::pair<int, std::vector<int>>> table;
    std::istringstream lines(kCircleInsets);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line.substr(2));
        int r = 0;
        char colon = 0;
        fields >> r >> colon;
        std::vector<int> insets;
        for (int inset; fields >> inset;) insets.push_back(inset);
        table.emplace_back(r, insets);
    }
    return table;
}

// ---------------------------------------------------------------------------------------------
// Ellipses

TEST(RasterEllipse, CircleInsetsMatchGdiForEveryRadiusUpTo40) {
    const auto table = ParseCircleInsets();
    ASSERT_EQ(table.size(), 39u);
    for (const auto& [r, insets] : table) {
        ASSERT_EQ(static_cast<int>(insets.size()), r);
        const int cx = 45;
        const int cy = 44;
        Image image(90, 90);
        raster::DrawEllipse(image.Surface(), cx - r, cy - r, cx + r, cy + r, kInk, kInk);
        for (int y = 0; y < image.Height(); ++y) {
            const int k = y - (cy - r);
            int x0 = 0;
            int x1 = 0;  // expected span [x0, x1); empty outside the box
            if (k >= 0 && k < 2 * r) {
                const int inset = insets[k < r ? k : 2 * r - 1 - k];
                x0 = cx - r + inset;
                x1 = cx + r - inset;
            }
            for (int x = 0; x < image.Width(); ++x) {
                ASSERT_EQ(image.At(x, y) == kInk, x >= x0 && x < x1)
                    << "r=" << r << " pixel " << x << "," << y;
            }
        }
    }
}

TEST(RasterEllipse, EmptyBoxesDrawNothing) {
    const int boxes[][4] = {{10, 10, 10, 20}, {10, 10, 20, 10}, {5, 5, 5, 5},
                            {10, 10, 11, 11}, {11, 11, 10, 10}, {3, 7, 4, 8}};
    for (const auto& b : boxes) {
        Image image(24, 24);
        raster::DrawEllipse(image.Surface(), b[0], b[1], b[2], b[3], kInk, kInk);
        EXPECT_EQ(image.Count(kInk), 0) << b[0] << "," << b[1] << "," << b[2] << "," << b[3];
    }
}

// Boxes with a side of 1 or 2 come out as the whole box, as GDI's Rectangle with a 1-pixel pen.
TEST(RasterEllipse, ThinBoxesAreSolidRectangles) {
    const int sizes[][2] = {{1, 2}, {2, 1}, {2, 2},  {1, 7}, {7, 1},
                            {2, 9}, {9, 2}, {30, 1}, {2, 3}};
    for (const auto& [w, h] : sizes) {
        for (const bool reversed : {false, true}) {
            Image image(40, 20);
            const int l = 4;
            const int t = 5;
            if (reversed) {
                raster::DrawEllipse(image.Surface(), l + w, t + h, l, t, kInk, kInk);
            } else {
                raster::DrawEllipse(image.Surface(), l, t, l + w, t + h, kInk, kInk);
            }
            for (int y = 0; y < image.Height(); ++y) {
                for (int x = 0; x < image.Width(); ++x) {
                    const bool inBox = x >= l && x < l + w && y >= t && y < t + h;
                    ASSERT_EQ(image.At(x, y) == kInk, inBox)
                        << w << "x" << h << " at " << x << "," << y << " reversed " << reversed;
                }
            }
        }
    }
}

TEST(RasterEllipse, ProjectRadiusOneIsTwoByTwoBlock) {
    Image image(8, 8);
    DrawProjectShape(image, 0, 3, 4, 4, kInk, kInk);
    EXPECT_EQ(image.Picture(),
              "........\n"
              "........\n"
              "........\n"
              "...##...\n"
              "...##...\n"
              "........\n"
              "........\n"
              "........\n");
}

TEST(RasterEllipse, ReversedCornersDrawTheSameEllipse) {
    Image forward(40, 40);
    Image backward(40, 40);
    raster::DrawEllipse(forward.Surface(), 3, 5, 31, 22, kInk, kInk);
    raster::DrawEllipse(backward.Surface(), 31, 22, 3, 5, kInk, kInk);
    EXPECT_EQ(forward.Picture(), backward.Picture());
    EXPECT_GT(forward.Count(kInk), 0);
}

// Every row of an ellipse is one span (the end rows of some even widths are empty), symmetric
// left to right and top to bottom, widening towards the middle row, which spans the whole box.
TEST(RasterEllipse, GeneralBoxesAreSymmetricConvexSpans) {
    for (int w = 3; w <= 40; ++w) {
        for (int h = 3; h <= 40; ++h) {
            if (h >= 2 * (w - 1) * (w - 1)) continue;  // the walk ends early there; see below
            Image image(44, 44);
            raster::DrawEllipse(image.Surface(), 2, 2, 2 + w, 2 + h, kInk, kInk);
            std::vector<int> widths;
            for (int k = 0; k < h; ++k) {
                int first = -1;
                int count = 0;
                for (int x = 0; x < image.Width(); ++x) {
                    if (image.At(x, 2 + k) != kInk) continue;
                    if (first < 0) first = x;
                    ++count;
                }
                if (count > 0) {
                    const int inset = first - 2;
                    ASSERT_EQ(count, w - 2 * inset) << w << "x" << h << " row " << k;
                }
                widths.push_back(count);
            }
            for (int k = 0; k < h; ++k) {
                ASSERT_EQ(widths[k], widths[h - 1 - k]) << w << "x" << h << " row " << k;
                if (k < h / 2) {
                    ASSERT_LE(widths[k], widths[k + 1]) << w << "x" << h << " row " << k;
                }
            }
            ASSERT_EQ(widths[h / 2], w) << w << "x" << h;
            ASSERT_GT(widths[1], 0) << w << "x" << h;
            int inBox = 0;
            for (int y = 2; y < 2 + h; ++y) {
                for (int x = 2; x < 2 + w; ++x) inBox += image.At(x, y) == kInk;
            }
            ASSERT_EQ(image.Count(kInk), inBox) << "pixels outside the box for " << w << "x" << h;
        }
    }
}

// GDI's walk stops before the end rows of boxes far taller than wide; those rows stay empty
// here (Wine paints leftovers of memory there) and the drawing must still be sane.
TEST(RasterEllipse, VeryTallBoxesLeaveUnreachedEndRowsEmpty) {
    Image image(10, 40);
    raster::DrawEllipse(image.Surface(), 2, 1, 5, 39, kInk, kInk);  // 3 x 38
    EXPECT_EQ(image.At(3, 20), kInk);
    EXPECT_NE(image.At(3, 1), kInk);
    EXPECT_NE(image.At(3, 38), kInk);
    for (int y = 0; y < 40; ++y) {
        EXPECT_NE(image.At(1, y), kInk);
        EXPECT_NE(image.At(5, y), kInk);
    }
}

// Pen outline over brush interior. The picture was confirmed against GDI under Wine.
TEST(RasterEllipse, DifferentPenAndBrushColours) {
    Image image(14, 14);
    raster::DrawEllipse(image.Surface(), 1, 2, 13, 12, kPen, kBrush);
    EXPECT_EQ(image.Picture(),
              "..............\n"
              "..............\n"
              ".....PPPP.....\n"
              "...PPbbbbPP...\n"
              "..PbbbbbbbbP..\n"
              ".PbbbbbbbbbbP.\n"
              ".PbbbbbbbbbbP.\n"
              ".PbbbbbbbbbbP.\n"
              ".PbbbbbbbbbbP.\n"
              "..PbbbbbbbbP..\n"
              "...PPbbbbPP...\n"
              ".....PPPP.....\n"
              "..............\n"
              "..............\n");
}

// A COLORREF's top byte (palette flags) never reaches the pixels, on any store width.
TEST(RasterEllipse, TheColourTopByteIsIgnored) {
    for (int w : {3, 4, 9, 12, 30}) {
        Image plain(34, 34), flagged(34, 34);
        raster::DrawEllipse(plain.Surface(), 1, 2, 1 + w, 2 + w, kPen, kBrush);
        raster::DrawEllipse(flagged.Surface(), 1, 2, 1 + w, 2 + w, kPen | 0x02000000,
                            kBrush | 0xFF000000);
        EXPECT_EQ(flagged.Picture(), plain.Picture()) << w;
        EXPECT_GT(plain.Count(kBrush) + plain.Count(kPen), 0) << w;
    }
}

TEST(RasterEllipse, PenAndBrushTogetherCoverTheOneColourShape) {
    for (int w = 3; w <= 30; ++w) {
        for (int h = 3; h <= 30; h += 3) {
            Image twoColours(34, 34);
            Image oneColour(34, 34);
            raster::DrawEllipse(twoColours.Surface(), 1, 2, 1 + w, 2 + h, kPen, kBrush);
            raster::DrawEllipse(oneColour.Surface(), 1, 2, 1 + w, 2 + h, kInk, kInk);
            ASSERT_GT(twoColours.Count(kPen), 0);
            for (int y = 0; y < 34; ++y) {
                for (int x = 0; x < 34; ++x) {
                    ASSERT_EQ(twoColours.At(x, y) != 0, oneColour.At(x, y) != 0)
                        << w << "x" << h << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(RasterEllipse, HugeBoxesStayExactAndDoNotOverflow) {
    Image image(16, 16);
    // The surface sits at the centre of a circle 100000 across: every pixel is inside.
    raster::DrawEllipse(image.Surface(), -50000, -50000, 50000, 50000, kInk, kInk);
    EXPECT_EQ(image.Count(kInk), 16 * 16);

    // Far off the surface, extreme corners and int32 limits: nothing drawn, nothing broken.
    Image empty(16, 16);
    raster::DrawEllipse(empty.Surface(), INT32_MIN, INT32_MIN, INT32_MIN + 10, INT32_MIN + 10, kInk,
                        kInk);
    raster::DrawEllipse(empty.Surface(), INT32_MAX - 10, 0, INT32_MAX, 10, kInk, kInk);
    raster::DrawEllipse(empty.Surface(), 1000, 1000, 1020, 1020, kInk, kInk);
    EXPECT_EQ(empty.Count(kInk), 0);
    raster::DrawEllipse(empty.Surface(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, kInk, kInk);
    raster::DrawEllipse(empty.Surface(), INT32_MIN, 5, INT32_MAX, 6, kInk, kInk);
    EXPECT_EQ(empty.Count(kInk), 16);  // the thin box is a rectangle: one full row
    EXPECT_TRUE(empty.PaddingUntouched());
}

// ---------------------------------------------------------------------------------------------
// Polygons

TEST(RasterPolygon, SquareIsSolidBlockIncludingRightAndBottomEdges) {
    for (int t = 0; t <= 20; ++t) {
        Image image(48, 48);
        const int c = 23;
        const Point pts[] = {{c + t, c + t}, {c + t, c - t}, {c - t, c - t}, {c - t, c + t}};
        raster::DrawPolygon(image.Surface(), pts, 4, FillMode::Winding, kInk, kInk);
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 48; ++x) {
                const bool inBlock = t > 0 && std::abs(x - c) <= t && std::abs(y - c) <= t;
                ASSERT_EQ(image.At(x, y) == kInk, inBlock) << "t=" << t << " " << x << "," << y;
            }
        }
    }
}

TEST(RasterPolygon, ProjectSquareSizeOneDrawsNothing) {
    Image image(8, 8);
    DrawProjectShape(image, 2, 1, 4, 4, kInk, kInk);
    EXPECT_EQ(image.Count(kInk), 0);
}

TEST(RasterPolygon, FillOwnsTopAndLeftEdgesOutlineAddsTheRest) {
    // Brush alone shows through where the pen does not reach: a 6 x 4 rectangle's brush is
    // [x0, x1) x [y0, y1), and the pen then draws the whole closed outline.
    Image image(10, 8);
    const Point pts[] = {{1, 1}, {7, 1}, {7, 5}, {1, 5}};
    raster::DrawPolygon(image.Surface(), pts, 4, FillMode::Alternate, kPen, kBrush);
    EXPECT_EQ(image.Picture(),
              "..........\n"
              ".PPPPPPP..\n"
              ".PbbbbbP..\n"
              ".PbbbbbP..\n"
              ".PbbbbbP..\n"
              ".PPPPPPP..\n"
              "..........\n"
              "..........\n");
}

std::vector<Point> Star(int cx, int cy) { return ProjectVertices(5, 10, cx, cy); }

TEST(RasterPolygon, StarCentreFilledUnderWindingOnly) {
    const std::vector<Point> star = Star(12, 12);
    ASSERT_EQ(star[1].x - 12, 5);  // the vertex offsets the plug-in gets at size 10
    ASSERT_EQ(star[1].y - 12, -8);
    Image winding(24, 24);
    Image alternate(24, 24);
    raster::DrawPolygon(winding.Surface(), star.data(), 5, FillMode::Winding, kInk, kInk);
    raster::DrawPolygon(alternate.Surface(), star.data(), 5, FillMode::Alternate, kInk, kInk);
    EXPECT_EQ(winding.At(12, 12), kInk);
    EXPECT_EQ(alternate.At(12, 12), 0u);
    // The two differ only inside the central pentagon, where the winding number is 2.
    int differing = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            if (winding.At(x, y) == alternate.At(x, y)) continue;
            ++differing;
            ASSERT_EQ(winding.At(x, y), kInk);
            ASSERT_TRUE(RefFilled(star, FillMode::Winding, x, y));
            ASSERT_LE(std::abs(x - 12), 4);
            ASSERT_LE(std::abs(y - 12), 4);
        }
    }
    EXPECT_GT(differing, 10);
}

// ---------------------------------------------------------------------------------------------
// Lines

struct LineCase {
    Point from, to;
    std::vector<std::pair<int, int>> pixels;
};

TEST(RasterLine, HalfWayGoesToTheSmallerMinorCoordinateInBothDirections) {
    const std::vector<LineCase> cases = {
        {{0, 0}, {4, 1}, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
        {{4, 1}, {0, 0}, {{4, 1}, {3, 1}, {2, 0}, {1, 0}}},
        {{0, 0}, {1, 4}, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
        {{1, 4}, {0, 0}, {{1, 4}, {1, 3}, {0, 2}, {0, 1}}},
        {{0, 4}, {4, 3}, {{0, 4}, {1, 4}, {2, 3}, {3, 3}}},  // tie at x=2 goes up to y=3
        {{4, 3}, {0, 4}, {{4, 3}, {3, 3}, {2, 3}, {1, 4}}},
        {{2, 2}, {2, 2}, {}},                                // zero length: nothing
        {{1, 1}, {5, 1}, {{1, 1}, {2, 1}, {3, 1}, {4, 1}}},  // end point excluded
        {{5, 1}, {1, 1}, {{5, 1}, {4, 1}, {3, 1}, {2, 1}}},
        {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
    };
    for (const LineCase& c : cases) {
        Image image(8, 8);
        raster::DrawLine(image.Surface(), c.from, c.to, kInk);
        std::set<std::pair<int, int>> drawn;
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                if (image.At(x, y) == kInk) drawn.insert({x, y});
            }
        }
        const std::set<std::pair<int, int>> expected(c.pixels.begin(), c.pixels.end());
        EXPECT_EQ(drawn, expected)
            << c.from.x << "," << c.from.y << " -> " << c.to.x << "," << c.to.y;
    }
}

TEST(RasterLine, EverySmallSegmentMatchesTheStepwiseRule) {
    for (int dx = -9; dx <= 9; ++dx) {
        for (int dy = -9; dy <= 9; ++dy) {
            Image image(24, 24);
            const Point a{11, 12};
            const Point b{11 + dx, 12 + dy};
            raster::DrawLine(image.Surface(), a, b, kInk);
            std::set<std::pair<int, int>> drawn;
            for (int y = 0; y < 24; ++y) {
                for (int x = 0; x < 24; ++x) {
                    if (image.At(x, y) == kInk) drawn.insert({x, y});
                }
            }
            ASSERT_EQ(drawn, RefSegmentPixels(a, b)) << dx << "," << dy;
            // Drawn backwards, the same pixels apart from the end points.
            Image back(24, 24);
            raster::DrawLine(back.Surface(), b, a, kInk);
            for (int y = 0; y < 24; ++y) {
                for (int x = 0; x < 24; ++x) {
                    const bool end = (x == a.x && y == a.y) || (x == b.x && y == b.y);
                    if (!end) {
                        ASSERT_EQ(image.At(x, y), back.At(x, y)) << dx << "," << dy;
                    }
                }
            }
        }
    }
}

TEST(RasterLine, ClippedLongLinesMatchTheRule) {
    // Each line runs from far away through a point of the surface and as far out again.
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) {
        const Point through{static_cast<int>(Next(rng, 24)), static_cast<int>(Next(rng, 20))};
        const auto far = [&] { return static_cast<std::int32_t>(rng()) / 2; };
        const Point a{far(), far()};
        const Point b{2 * through.x - a.x, 2 * through.y - a.y};
        Image image(24, 20);
        raster::DrawLine(image.Surface(), a, b, kInk);
        int drawn = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 24; ++x) {
                ASSERT_EQ(image.At(x, y) == kInk, RefOnSegment(a, b, x, y))
                    << a.x << "," << a.y << " -> " << b.x << "," << b.y << " at " << x << "," << y;
                drawn += image.At(x, y) == kInk;
            }
        }
        EXPECT_GT(drawn, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Against the per-pixel reference

TEST(RasterPolygon, RandomPolygonsMatchTheReference) {
    std::mt19937 rng(1234);
    int compared = 0;
    for (int i = 0; i < 600; ++i) {
        const int n = 2 + static_cast<int>(Next(rng, 9));
        std::vector<Point> pts;
        for (int k = 0; k < n; ++k) {
            pts.push_back(
                {static_cast<int>(Next(rng, 60)) - 10, static_cast<int>(Next(rng, 50)) - 8});
        }
        const FillMode mode = i % 2 ? FillMode::Winding : FillMode::Alternate;
        const bool twoColours = i % 3 == 0;
        const Colour brush = twoColours ? kBrush : kInk;
        const Colour pen = twoColours ? kPen : kInk;
        Image image(40, 36);
        raster::DrawPolygon(image.Surface(), pts.data(), n, mode, pen, brush);
        const Image expected = RefPolygon(40, 36, pts, mode, pen, brush, true);
        ASSERT_EQ(image.Picture(), expected.Picture()) << "polygon " << i;
        ++compared;
    }
    EXPECT_EQ(compared, 600);
}

TEST(RasterPolygon, HugeCoordinatesMatchTheReference) {
    std::mt19937 rng(99);
    for (int i = 0; i < 200; ++i) {
        const int n = 3 + static_cast<int>(Next(rng, 4));
        std::vector<Point> pts;
        for (int k = 0; k < n; ++k) {
            const bool near = Next(rng, 3) == 0;
            pts.push_back(
                near ? Point{static_cast<int>(Next(rng, 40)) - 8,
                             static_cast<int>(Next(rng, 40)) - 8}
                     : Point{static_cast<std::int32_t>(rng()), static_cast<std::int32_t>(rng())});
        }
        const FillMode mode = i % 2 ? FillMode::Winding : FillMode::Alternate;
        Image image(24, 20);
        raster::DrawPolygon(image.Surface(), pts.data(), n, mode, kPen, kBrush);
        const Image expected = RefPolygon(24, 20, pts, mode, kPen, kBrush, false);
        ASSERT_EQ(image.Picture(), expected.Picture()) << "polygon " << i;
    }
}

TEST(RasterPolygon, ExtremeSquareCoversTheWholeSurface) {
    Image image(20, 12);
    const Point pts[] = {{INT32_MIN, INT32_MIN},
                         {INT32_MAX, INT32_MIN},
                         {INT32_MAX, INT32_MAX},
                         {INT32_MIN, INT32_MAX}};
    raster::DrawPolygon(image.Surface(), pts, 4, FillMode::Alternate, kInk, kInk);
    EXPECT_EQ(image.Count(kInk), 20 * 12);
    EXPECT_TRUE(image.PaddingUntouched());
}

TEST(RasterPolygon, ManyVerticesTakeTheUncachedRoute) {
    // A 100-gon approximating a circle: more vertices than the cache keys hold.
    std::vector<Point> pts;
    for (int k = 0; k < 100; ++k) {
        pts.push_back({20 + static_cast<int>(std::lround(15 * std::cos(k * 0.0628318))),
                       20 + static_cast<int>(std::lround(15 * std::sin(k * 0.0628318)))});
    }
    Image image(40, 40);
    raster::DrawPolygon(image.Surface(), pts.data(), 100, FillMode::Winding, kPen, kBrush);
    EXPECT_EQ(image.Picture(),
              RefPolygon(40, 40, pts, FillMode::Winding, kPen, kBrush, true).Picture());
}

TEST(RasterPolygon, DegenerateInputsDrawNothingHarmful) {
    Image image(10, 10);
    const Point one[] = {{3, 3}};
    raster::DrawPolygon(image.Surface(), one, 1, FillMode::Winding, kInk, kInk);
    raster::DrawPolygon(image.Surface(), nullptr, 4, FillMode::Winding, kInk, kInk);
    raster::DrawPolygon(image.Surface(), one, 0, FillMode::Winding, kInk, kInk);
    raster::DrawPolygon(image.Surface(), one, -5, FillMode::Winding, kInk, kInk);
    const Point same[] = {{4, 4}, {4, 4}, {4, 4}};
    raster::DrawPolygon(image.Surface(), same, 3, FillMode::Winding, kInk, kInk);
    EXPECT_EQ(image.Count(kInk), 0);
    // A two-point polygon is its segment there and back: both end points drawn.
    const Point two[] = {{1, 1}, {5, 3}};
    raster::DrawPolygon(image.Surface(), two, 2, FillMode::Winding, kInk, kInk);
    EXPECT_EQ(image.At(1, 1), kInk);
    EXPECT_EQ(image.At(5, 3), kInk);
    EXPECT_EQ(image.Count(kInk), 5);
}

// ---------------------------------------------------------------------------------------------
// Clipping and surfaces

// A shape centred anywhere, on or off the surface, is the centred shape moved and cropped.
TEST(RasterClip, OffCanvasShapesAreTheTranslatedShapeCropped) {
    constexpr int kSize = 32;
    constexpr int kMargin = 80;
    const int centres[] = {-70, -40, -12, -3, -1, 0, 1, 15, 30, 31, 32, 34, 45, 100};
    for (int kind = 0; kind <= 5; ++kind) {
        for (const int size : {1, 2, 3, 5, 8, 11, 17, 30, 64}) {
            for (const int cx : centres) {
                for (const int cy : {-9, 0, 16, 31, 40}) {
                    Image small(kSize, kSize);
                    Image big(kSize + 2 * kMargin, kSize + 2 * kMargin);
                    DrawProjectShape(small, kind, size, cx, cy, kInk, kInk);
                    DrawProjectShape(big, kind, size, cx + kMargin, cy + kMargin, kInk, kInk);
                    for (int y = 0; y < kSize; ++y) {
                        for (int x = 0; x < kSize; ++x) {
                            ASSERT_EQ(small.At(x, y), big.At(x + kMargin, y + kMargin))
                                << "kind " << kind << " size " << size << " centre " << cx << ","
                                << cy << " pixel " << x << "," << y;
                        }
                    }
                    ASSERT_TRUE(small.PaddingUntouched());
                }
            }
        }
    }
}

TEST(RasterClip, FillRectIsHalfOpenAndCropped) {
    Image image(6, 4);
    raster::FillRect(image.Surface(), -3, 1, 3, 99, kInk);
    raster::FillRect(image.Surface(), 4, 3, 9, 3, kPen);  // no height: nothing
    raster::FillRect(image.Surface(), 5, 0, 5, 2, kPen);  // no width: nothing
    EXPECT_EQ(image.Picture(),
              "......\n"
              "###...\n"
              "###...\n"
              "###...\n");
    EXPECT_TRUE(image.PaddingUntouched());
}

// As GDI does: an inverted rectangle keeps its start pixel and runs back to just short of the
// other corner.
TEST(RasterClip, FillRectInvertedRunsBackFromItsStartPixel) {
    Image image(6, 4);
    raster::FillRect(image.Surface(), 5, 1, 3, 0, kPen);    // columns 4-5, row 1
    raster::FillRect(image.Surface(), 0, 3, 2, 1, kBrush);  // columns 0-1, rows 2-3
    EXPECT_EQ(image.Picture(),
              "......\n"
              "....PP\n"
              "bb....\n"
              "bb....\n");
}

TEST(RasterClip, TopDownAndBottomUpSurfacesAgree) {
    for (int kind = 0; kind <= 5; ++kind) {
        Image bottomUp(21, 17, true);
        Image topDown(21, 17, false);
        DrawProjectShape(bottomUp, kind, 9, 8, 6, kInk, kInk);
        DrawProjectShape(topDown, kind, 9, 8, 6, kInk, kInk);
        EXPECT_EQ(bottomUp.Picture(), topDown.Picture()) << kind;
        EXPECT_GT(bottomUp.Count(kInk), 0);
        EXPECT_TRUE(bottomUp.PaddingUntouched());
        EXPECT_TRUE(topDown.PaddingUntouched());
    }
}

TEST(RasterClip, EmptySurfaceIsIgnored) {
    std::uint8_t byte = 0x5A;
    const raster::Surface none{&byte, 3, 0, 1};
    raster::FillRect(none, 0, 0, 10, 10, kInk);
    raster::DrawEllipse(none, 0, 0, 10, 10, kInk, kInk);
    const Point pts[] = {{0, 0}, {5, 0}, {0, 5}};
    raster::DrawPolygon(none, pts, 3, FillMode::Winding, kInk, kInk);
    EXPECT_EQ(byte, 0x5A);
}

// ---------------------------------------------------------------------------------------------
// Cached coverage against a fresh computation

class RasterCache : public ::testing::Test {
protected:
    void SetUp() override { raster::ResetGeometryCache(); }
    void TearDown() override { raster::SetGeometryCacheEnabled(true); }
};

TEST_F(RasterCache, LaterDrawsAreHitsAndPaintTheSamePixelsAsUncached) {
    std::mt19937 rng(42);
    for (int i = 0; i < 300; ++i) {
        const bool ellipse = i % 2 == 0;
        const int w = static_cast<int>(Next(rng, 60));
        const int h = static_cast<int>(Next(rng, 60));
        std::vector<Point> offsets;
        const int n = 3 + static_cast<int>(Next(rng, 6));
        for (int k = 0; k < n; ++k) {
            offsets.push_back(
                {static_cast<int>(Next(rng, 50)) - 25, static_cast<int>(Next(rng, 50)) - 25});
        }
        const FillMode mode = i % 4 < 2 ? FillMode::Winding : FillMode::Alternate;
        const Colour brush = i % 3 == 0 ? kBrush : kPen;
        const auto draw = [&](Image& image, int x, int y) {
            if (ellipse) {
                raster::DrawEllipse(image.Surface(), x, y, x + w, y + h, kPen, brush);
                return;
            }
            std::vector<Point> pts;
            for (const Point& o : offsets) pts.push_back({x + o.x, y + o.y});
            raster::DrawPolygon(image.Surface(), pts.data(), n, mode, kPen, brush);
        };
        raster::ResetGeometryCache();
        const int positions[][2] = {{30, 30}, {-20, 5}, {60, 61}, {3, -40}};
        for (const auto& [x, y] : positions) {
            Image cached(80, 70);
            Image fresh(80, 70);
            raster::SetGeometryCacheEnabled(true);
            draw(cached, x, y);
            raster::SetGeometryCacheEnabled(false);
            draw(fresh, x, y);
            ASSERT_EQ(cached.Picture(), fresh.Picture())
                << "shape " << i << " at " << x << "," << y;
        }
        // Boxes with a side below 3 are plain rectangles and never need the cache.
        const bool cacheable = !ellipse || (w >= 3 && h >= 3);
        const raster::CacheStats stats = raster::GetGeometryCacheStats();
        EXPECT_EQ(stats.misses, cacheable ? 1u : 0u) << "shape " << i;
        EXPECT_EQ(stats.hits, cacheable ? 3u : 0u) << "shape " << i;
    }
}

TEST_F(RasterCache, OverflowingTheCacheStillDrawsCorrectly) {
    // More distinct geometries than the cache keeps: it starts over and stays exact.
    for (int w = 3; w < 40; ++w) {
        for (int h = 3; h < 40; ++h) {
            Image cached(50, 50);
            Image fresh(50, 50);
            raster::SetGeometryCacheEnabled(true);
            raster::DrawEllipse(cached.Surface(), 2, 3, 2 + w, 3 + h, kInk, kInk);
            raster::SetGeometryCacheEnabled(false);
            raster::DrawEllipse(fresh.Surface(), 2, 3, 2 + w, 3 + h, kInk, kInk);
            ASSERT_TRUE(cached == fresh) << w << "x" << h;
        }
    }
    EXPECT_GE(raster::GetGeometryCacheStats().flushes, 1u);
}

TEST_F(RasterCache, LargeShapesBypassTheCacheButDrawTheSame) {
    Image cached(64, 64);
    Image fresh(64, 64);
    raster::SetGeometryCacheEnabled(true);
    raster::DrawEllipse(cached.Surface(), -600, -500, 700, 90, kPen, kBrush);
    const Point pts[] = {{-900, 10}, {40, -700}, {63, 800}, {-5, 30}};
    raster::DrawPolygon(cached.Surface(), pts, 4, FillMode::Alternate, kBrush, kPen);
    EXPECT_EQ(raster::GetGeometryCacheStats().misses, 0u);
    raster::SetGeometryCacheEnabled(false);
    raster::DrawEllipse(fresh.Surface(), -600, -500, 700, 90, kPen, kBrush);
    raster::DrawPolygon(fresh.Surface(), pts, 4, FillMode::Alternate, kBrush, kPen);
    EXPECT_TRUE(cached == fresh);
    EXPECT_GT(cached.Count(kPen), 0);
    EXPECT_GT(cached.Count(kBrush), 0);
}

TEST_F(RasterCache, PenAndBrushColoursAreCachedSeparately) {
    // The same geometry in one colour and then in two must not share coverage.
    Image image(20, 20);
    raster::DrawEllipse(image.Surface(), 2, 2, 16, 14, kInk, kInk);
    raster::DrawEllipse(image.Surface(), 2, 2, 16, 14, kPen, kBrush);
    EXPECT_EQ(image.Count(kInk), 0);
    EXPECT_GT(image.Count(kPen), 0);
    EXPECT_GT(image.Count(kBrush), 0);
}

}  // namespace
