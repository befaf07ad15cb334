// The SVG document against the run's pixels: one element per shape of the run, and, rendered at
// 1:1 by librsvg, nearly the picture StippleBuffer paints with the same seed.
#include "embed/stipple_svg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace {

constexpr int kWidth = 160, kHeight = 120;

std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> rgb(kWidth * kHeight * 3);
    for (int i = 0; i < kWidth * kHeight; ++i) {
        const int x = i % kWidth, y = i / kWidth;
        rgb[i * 3] = static_cast<std::uint8_t>(x * 255 / kWidth);
        rgb[i * 3 + 1] = (x / 20 + y / 20) % 2 ? 200 : 30;
        rgb[i * 3 + 2] = static_cast<std::uint8_t>(y * 255 / kHeight);
    }
    return rgb;
}

// The document rendered by rsvg-convert, as RGB bytes (ImageMagick reads its PNG back).
std::vector<std::uint8_t> Render(const std::string& svg, const TempDir& dir) {
    const std::string in = dir.file("shapes.svg"), png = dir.file("shapes.png"),
                      raw = dir.file("shapes.rgb");
    std::ofstream(in) << svg;
    const std::string command = "rsvg-convert " + in + " -o " + png + " && convert " + png +
                                " -alpha off -depth 8 rgb:" + raw;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Mean absolute difference per channel between `a` and `b` read (dx, dy) pixels away.
double MeanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                      int dx, int dy) {
    double sum = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int bx = std::clamp(x + dx, 0, kWidth - 1),
                      by = std::clamp(y + dy, 0, kHeight - 1);
            for (int c = 0; c < 3; ++c) {
                sum += std::abs(a[(y * kWidth + x) * 3 + c] - b[(by * kWidth + bx) * 3 + c]);
            }
        }
    }
    return sum / a.size();
}

double Identical(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    std::size_t same = 0;
    for (std::size_t i = 0; i < a.size(); i += 3) same += std::equal(&a[i], &a[i] + 3, &b[i]);
    return same * 3.0 / a.size();
}

}  // namespace

TEST(StippleSvg, EveryShapeOfTheRunWhereTheRunDrawsIt) {
    const std::vector<std::uint8_t> source = Picture();
    TempDir dir;
    for (std::int32_t shape = Circle; shape <= Star; ++shape) {
        const StippleSettings settings{1, 6, 14, 40, shape};
        std::string svg;
        std::vector<std::uint8_t> input = source;
        const PixelBuffer buffer{input.data(), kWidth, kHeight, PixelLayout::Rgb};
        ASSERT_TRUE(StippleSvg(buffer, settings, 5, {}, svg).done());
        EXPECT_EQ(input, source) << "the source is only read";
        const std::size_t shapes = kWidth * kHeight * 40 / 100 / 6;
        EXPECT_EQ(Count(svg, shape == Circle ? "<circle " : "<path "), shapes) << shape;

        std::vector<std::uint8_t> painted = source;
        ASSERT_TRUE(
            StippleBuffer({painted.data(), kWidth, kHeight, PixelLayout::Rgb}, settings, 5).done());
        const std::vector<std::uint8_t> rendered = Render(svg, dir);
        ASSERT_EQ(rendered.size(), painted.size());
        // Anti-aliased edges differ from GDI's hard ones, so the document is held to being nearer
        // the run's pixels where they are than to the same pixels one row or column off.
        const double here = MeanDifference(rendered, painted, 0, 0);
        std::printf("%s: mean difference %.2f, identical pixels %.1f %%\n", kShapeNames[shape],
                    here, 100 * Identical(rendered, painted));
        for (const auto& [dx, dy] : {std::pair{0, 1}, {0, -1}, {1, 0}, {-1, 0}}) {
            EXPECT_LT(here, 0.8 * MeanDifference(rendered, painted, dx, dy))
                << kShapeNames[shape] << " against the run moved by " << dx << ", " << dy;
        }
    }
}
