// Real GDI against our rasteriser, pixel for pixel.
//
// Every case is drawn twice into identical 24-bit bottom-up DIB sections: once by GDI through a
// memory DC with a 1-pixel solid pen and a solid brush selected, once by our rasteriser, with its
// geometry cache on and again with it off. The bytes must agree everywhere, row padding included.
#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "raster/hooks.h"
#include "render/shape_drawing.h"

namespace {

// An odd width, so every row carries padding bytes that nobody may touch.
constexpr int kWidth = 97;
constexpr int kHeight = 93;
constexpr int kStride = (kWidth * 3 + 3) & ~3;
constexpr std::uint8_t kBackground = 0x5A;

constexpr COLORREF kInk = RGB(0x20, 0x80, 0xC0);
constexpr COLORREF kPen = RGB(0xFF, 0x10, 0x00);
constexpr COLORREF kBrush = RGB(0x00, 0x30, 0xF0);

struct Totals {
    long cases = 0;
    long differingPixels = 0;
};
Totals gTotals;

// A 24-bit bottom-up DIB section selected into a memory DC.
class GdiCanvas {
public:
    GdiCanvas() {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = kHeight;  // positive: bottom-up
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~GdiCanvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    bool Ready() const { return dc_ != nullptr && bitmap_ != nullptr && bits_ != nullptr; }
    HDC Dc() const { return dc_; }

    void Clear() {
        GdiFlush();
        std::memset(bits_, kBackground, kStride * kHeight);
    }

    const std::uint8_t* Bits() {
        GdiFlush();
        return static_cast<const std::uint8_t*>(bits_);
    }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

GdiCanvas& Canvas() {
    static GdiCanvas canvas;
    return canvas;
}

// Selects a pen and brush for one drawing call and deletes them afterwards, as the plug-in does.
class PenAndBrush {
public:
    PenAndBrush(HDC dc, COLORREF pen, COLORREF brush) : dc_(dc) {
        pen_ = CreatePen(PS_SOLID, 1, pen);
        brush_ = CreateSolidBrush(brush);
        oldPen_ = SelectObject(dc, pen_);
        oldBrush_ = SelectObject(dc, brush_);
    }
    ~PenAndBrush() {
        SelectObject(dc_, oldPen_);
        SelectObject(dc_, oldBrush_);
        DeleteObject(pen_);
        DeleteObject(brush_);
    }
    PenAndBrush(const PenAndBrush&) = delete;
    PenAndBrush& operator=(const PenAndBrush&) = delete;
    HBRUSH Brush() const { return brush_; }

private:
    HDC dc_;
    HPEN pen_;
    HBRUSH brush_;
    HGDIOBJ oldPen_;
    HGDIOBJ oldBrush_;
};

struct Case {
    std::string name;
    std::function<void(HDC)> gdi;
    std::function<void(const raster::Surface&)> ours;
};

std::string Picture(const std::uint8_t* bits) {
    std::string out;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* row = bits + (kHeight - 1 - y) * kStride;
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t* p = row + 3 * x;
            const COLORREF c = RGB(p[2], p[1], p[0]);
            out += c == RGB(kBackground, kBackground, kBackground) ? '.'
                   : c == kInk                                     ? '#'
                   : c == kPen                                     ? 'P'
                   : c == kBrush                                   ? 'b'
                                                                   : '?';
        }
        out += '\n';
    }
    return out;
}

// Differing pixels (a differing padding byte counts as one too) between GDI's drawing and ours.
int CountDifferences(const std::uint8_t* gdi, const std::uint8_t* ours) {
    int differing = 0;
    for (int row = 0; row < kHeight; ++row) {
        const std::uint8_t* a = gdi + row * kStride;
        const std::uint8_t* b = ours + row * kStride;
        for (int x = 0; x < kWidth; ++x) differing += std::memcmp(a + 3 * x, b + 3 * x, 3) != 0;
        for (int i = kWidth * 3; i < kStride; ++i) differing += a[i] != b[i];
    }
    return differing;
}

// Draws every case both ways, reports the counts and returns the number of differing pixels.
long RunCases(const char* title, const std::vector<Case>& cases) {
    GdiCanvas& canvas = Canvas();
    EXPECT_TRUE(canvas.Ready());
    if (!canvas.Ready()) return -1;
    std::vector<std::uint8_t> ours(kStride * kHeight);
    const raster::Surface surface{ours.data() + (kHeight - 1) * kStride, -kStride, kWidth, kHeight};
    long differing = 0;
    int reported = 0;
    for (const Case& c : cases) {
        canvas.Clear();
        c.gdi(canvas.Dc());
        const std::uint8_t* gdi = canvas.Bits();
        for (const bool cached : {true, false}) {
            raster::SetGeometryCacheEnabled(cached);
            std::memset(ours.data(), kBackground, ours.size());
            c.ours(surface);
            const int d = CountDifferences(gdi, ours.data());
            differing += d;
            if (d != 0 && reported++ < 3) {
                std::printf("MISMATCH %s (cache %s): %d pixels\nGDI:\n%s\nours:\n%s\n",
                            c.name.c_str(), cached ? "on" : "off", d, Picture(gdi).c_str(),
                            Picture(ours.data()).c_str());
            }
        }
    }
    raster::SetGeometryCacheEnabled(true);
    std::printf("%s: %zu cases compared (each with the cache on and off), %ld differing pixels\n",
                title, cases.size(), differing);
    gTotals.cases += static_cast<long>(cases.size());
    gTotals.differingPixels += differing;
    return differing;
}

// ---------------------------------------------------------------------------------------------
// Shapes

// The plug-in's own vertices, as its runs hand them to GDI.
std::vector<POINT> ProjectVertices(int kind, int size, int cx, int cy) {
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, cx, cy, size, vertices);
    return std::vector<POINT>(vertices, vertices + count);
}

std::vector<raster::Point> ToRaster(const std::vector<POINT>& pts) {
    std::vector<raster::Point> out;
    for (const POINT& p : pts) out.push_back({p.x, p.y});
    return out;
}

raster::FillMode ToRaster(int mode) {
    return mode == WINDING ? raster::FillMode::Winding : raster::FillMode::Alternate;
}

Case EllipseCase(std::string name, int l, int t, int r, int b, COLORREF pen, COLORREF brush) {
    return {std::move(name),
            [=](HDC dc) {
                const PenAndBrush tools(dc, pen, brush);
                Ellipse(dc, l, t, r, b);
            },
            [=](const raster::Surface& s) { raster::DrawEllipse(s, l, t, r, b, pen, brush); }};
}

Case PolygonCase(std::string name, std::vector<POINT> pts, int mode, COLORREF pen, COLORREF brush) {
    return {std::move(name),
            [=](HDC dc) {
                const PenAndBrush tools(dc, pen, brush);
                SetPolyFillMode(dc, mode);
                Polygon(dc, pts.data(), static_cast<int>(pts.size()));
            },
            [=](const raster::Surface& s) {
                const std::vector<raster::Point> ours = ToRaster(pts);
                raster::DrawPolygon(s, ours.data(), static_cast<int>(ours.size()), ToRaster(mode),
                                    pen, brush);
            }};
}

Case ProjectCase(int kind, int size, int cx, int cy, COLORREF pen, COLORREF brush) {
    const std::string name = "kind " + std::to_string(kind) + " size " + std::to_string(size) +
                             " at " + std::to_string(cx) + "," + std::to_string(cy);
    if (kind == 0) {
        const int r = size / 2;
        return EllipseCase(name, cx - r, cy - r, cx + r, cy + r, pen, brush);
    }
    return PolygonCase(name, ProjectVertices(kind, size, cx, cy), WINDING, pen, brush);
}

std::string Describe(const std::vector<POINT>& pts, int mode) {
    std::string s = mode == WINDING ? "winding" : "alternate";
    for (const POINT& p : pts) s += " (" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    return s;
}

// A fixed generator, so every run compares the same cases.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    int Below(int bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<int>((state_ >> 8) % static_cast<std::uint32_t>(bound));
    }
    int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }

private:
    std::uint32_t state_;
};

// Centres on the canvas, on its edges, just past them and well outside.
constexpr int kCentresX[] = {48, 0, 1, -1, -3, 20, kWidth - 1, kWidth - 2, kWidth, kWidth + 2};
constexpr int kCentresY[] = {46, 0, -1, -3, 2, kHeight - 1, kHeight, kHeight + 2, -40};

// ---------------------------------------------------------------------------------------------

TEST(GdiFidelity, EveryProjectShapeAtEverySizeOnAndOffTheEdges) {
    std::vector<Case> cases;
    for (int kind = 0; kind <= 5; ++kind) {
        for (int size = 1; size <= 64; ++size) {
            for (const int cx : kCentresX) {
                for (const int cy : kCentresY) {
                    cases.push_back(ProjectCase(kind, size, cx, cy, kInk, kInk));
                }
            }
        }
    }
    EXPECT_EQ(RunCases("project shapes", cases), 0);
}

TEST(GdiFidelity, RandomPolygonsInBothFillModes) {
    Random random(20240611);
    std::vector<Case> cases;
    for (int i = 0; i < 600; ++i) {
        const int n = random.Between(3, 8);
        // Mostly around the canvas; some tight knots of many crossings; some large enough to
        // bypass the geometry cache.
        const int spread = i % 5 == 0 ? 12 : i % 7 == 0 ? 700 : kWidth + 40;
        const int originX = i % 5 == 0 ? random.Between(-6, kWidth) : -20;
        const int originY = i % 5 == 0 ? random.Between(-6, kHeight) : -20;
        std::vector<POINT> pts;
        for (int k = 0; k < n; ++k) {
            const int x = originX + random.Below(spread) - (spread > 500 ? 300 : 0);
            const int y = originY + random.Below(spread) - (spread > 500 ? 300 : 0);
            pts.push_back({x, y});
        }
        const int mode = i % 2 ? WINDING : ALTERNATE;
        const bool twoColours = i % 4 == 0;
        cases.push_back(PolygonCase(Describe(pts, mode), pts, mode, twoColours ? kPen : kInk,
                                    twoColours ? kBrush : kInk));
    }
    // Two-point polygons: the segment there and back.
    for (int i = 0; i < 20; ++i) {
        const std::vector<POINT> pts = {{random.Between(-5, kWidth), random.Between(-5, kHeight)},
                                        {random.Between(-5, kWidth), random.Between(-5, kHeight)}};
        cases.push_back(PolygonCase(Describe(pts, WINDING), pts, WINDING, kInk, kInk));
    }
    EXPECT_EQ(RunCases("random polygons", cases), 0);
}

TEST(GdiFidelity, RandomEllipseBoxes) {
    Random random(777);
    std::vector<Case> cases;
    while (cases.size() < 600) {
        const int w = random.Between(0, 60);
        const int h = random.Between(0, 60);
        // For boxes much taller than wide GDI's walk stops short of the end rows, and Wine then
        // paints those rows from whatever its scratch memory held: nothing to compare against.
        // The walk reaches the last row exactly while h < 2 (w - 1)^2.
        if (w >= 3 && h >= 2 * (w - 1) * (w - 1)) continue;
        const int l = random.Between(-30, kWidth);
        const int t = random.Between(-30, kHeight);
        const bool reversed = random.Below(2) == 1;
        const bool twoColours = cases.size() % 3 == 0;
        const COLORREF pen = twoColours ? kPen : kInk;
        const COLORREF brush = twoColours ? kBrush : kInk;
        const std::string name = "ellipse " + std::to_string(l) + "," + std::to_string(t) + " " +
                                 std::to_string(w) + "x" + std::to_string(h) +
                                 (reversed ? " reversed" : "");
        if (reversed) {
            cases.push_back(EllipseCase(name, l + w, t + h, l, t, pen, brush));
        } else {
            cases.push_back(EllipseCase(name, l, t, l + w, t + h, pen, brush));
        }
    }
    // A few boxes too large for the geometry cache.
    for (int i = 0; i < 40; ++i) {
        const int w = random.Between(300, 1500);
        const int h = random.Between(300, 1500);
        const int l = random.Between(-w, kWidth);
        const int t = random.Between(-h, kHeight);
        const bool twoColours = i % 2 == 0;
        cases.push_back(EllipseCase("large ellipse " + std::to_string(l) + "," + std::to_string(t) +
                                        " " + std::to_string(w) + "x" + std::to_string(h),
                                    l, t, l + w, t + h, twoColours ? kPen : kInk,
                                    twoColours ? kBrush : kInk));
    }
    EXPECT_EQ(RunCases("random ellipse boxes", cases), 0);
}

TEST(GdiFidelity, DifferentPenAndBrushColours) {
    std::vector<Case> cases;
    for (int kind = 0; kind <= 5; ++kind) {
        for (int size = 1; size <= 64; ++size) {
            cases.push_back(ProjectCase(kind, size, 48, 46, kPen, kBrush));
            cases.push_back(ProjectCase(kind, size, 2, kHeight - 1, kPen, kBrush));
        }
    }
    // The ellipse pictured in the native tests.
    cases.push_back(EllipseCase("ellipse 12x10", 1, 2, 13, 12, kPen, kBrush));
    // The star's pentagon under both fill modes.
    for (const int mode : {WINDING, ALTERNATE}) {
        const std::vector<POINT> star = ProjectVertices(5, 30, 40, 40);
        cases.push_back(PolygonCase("star " + Describe(star, mode), star, mode, kPen, kBrush));
    }
    EXPECT_EQ(RunCases("pen and brush colours", cases), 0);
}

TEST(GdiFidelity, LinesAndRectangles) {
    Random random(4242);
    std::vector<Case> cases;
    for (int i = 0; i < 400; ++i) {
        const int reach = i % 4 == 0 ? 5000 : 60;
        const POINT a{random.Between(-reach, kWidth + reach),
                      random.Between(-reach, kHeight + reach)};
        const POINT b{random.Between(-reach, kWidth + reach),
                      random.Between(-reach, kHeight + reach)};
        cases.push_back({"line " + std::to_string(a.x) + "," + std::to_string(a.y) + " -> " +
                             std::to_string(b.x) + "," + std::to_string(b.y),
                         [=](HDC dc) {
                             const PenAndBrush tools(dc, kPen, kBrush);
                             MoveToEx(dc, a.x, a.y, nullptr);
                             LineTo(dc, b.x, b.y);
                         },
                         [=](const raster::Surface& s) {
                             raster::DrawLine(s, {a.x, a.y}, {b.x, b.y}, kPen);
                         }});
    }
    const RECT rects[] = {{10, 10, 30, 20}, {-5, -5, 8, 200}, {90, 80, 120, 99},
                          {0, 0, 0, 10},    {5, 5, 6, 6},     {20, 20, 40, 20},
                          {30, 10, 10, 20}, {60, 50, 70, 40}, {95, 99, -4, 90}};
    for (const RECT& r : rects) {
        cases.push_back({"rect " + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom),
                         [=](HDC dc) {
                             const PenAndBrush tools(dc, kPen, kBrush);
                             FillRect(dc, &r, tools.Brush());
                         },
                         [=](const raster::Surface& s) {
                             raster::FillRect(s, r.left, r.top, r.right, r.bottom, kBrush);
                         }});
    }
    EXPECT_EQ(RunCases("lines and rectangles", cases), 0);
}

class TotalsReport : public ::testing::Environment {
public:
    void TearDown() override {
        std::printf("GDI fidelity: %ld cases compared, %ld differing pixels\n", gTotals.cases,
                    gTotals.differingPixels);
    }
};
const auto* const gTotalsReport = ::testing::AddGlobalTestEnvironment(new TotalsReport);

}  // namespace
