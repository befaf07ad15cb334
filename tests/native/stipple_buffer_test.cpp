// The embedding API against the plug-in's own run: every pixel layout a host hands in must come
// back as the run paints the same image in blue, green, red.
#include "embed/stipple_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/recording_host.h"
#include "plugin/win32_host.h"
#include "render/random.h"

namespace {

constexpr int kWidth = 37, kHeight = 23;
constexpr StippleSettings kSettings{
    .clearFirst = 0, .minSize = 2, .maxSize = 9, .density = 80, .shape = Star};

// The plug-in's run on the recording host's image, in its own byte order.
std::vector<BYTE> PluginRun(std::uint32_t seed, const StippleSettings& settings = kSettings,
                            int width = kWidth, int height = kHeight) {
    RecordingHost host(width, height);
    EXPECT_EQ(RunFilterWith(settings, host.window, &host.size, &host.writer, &host.reader, seed),
              1);
    return host.image;
}

std::vector<BYTE> BgrToRgba(const std::vector<BYTE>& bgr) {
    std::vector<BYTE> rgba;
    for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) {
        rgba.insert(rgba.end(), {bgr[i + 2], bgr[i + 1], bgr[i], 0x7F});
    }
    return rgba;
}

}  // namespace

TEST(StippleBuffer, EveryLayoutGivesThePluginRunsPixels) {
    const std::vector<BYTE> source = RecordingHost(kWidth, kHeight).image;
    const std::vector<BYTE> expected = PluginRun(17);
    struct Case {
        PixelLayout layout;
        int bytesPerPixel;
        int padding;  // bytes after each row
        int red;      // where red lies within a pixel
    };
    for (const Case c : {Case{PixelLayout::Bgr, 3, 0, 2}, Case{PixelLayout::Rgb, 3, 0, 0},
                         Case{PixelLayout::Rgb, 3, 5, 0}, Case{PixelLayout::Rgba, 4, 0, 0},
                         Case{PixelLayout::Rgba, 4, 8, 0}}) {
        const int stride = kWidth * c.bytesPerPixel + c.padding;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * kHeight, 0xA5);
        for (int i = 0; i < kWidth * kHeight; ++i) {
            std::uint8_t* pixel = &pixels[(i / kWidth) * stride + (i % kWidth) * c.bytesPerPixel];
            pixel[c.red] = source[i * 3 + 2];
            pixel[1] = source[i * 3 + 1];
            pixel[2 - c.red] = source[i * 3];
        }
        std::vector<int> percents;
        const PixelBuffer buffer{pixels.data(), kWidth, kHeight, c.layout,
                                 c.padding != 0 ? stride : 0};
        ASSERT_TRUE(
            StippleBuffer(buffer, kSettings, 17, [&](int p) { percents.push_back(p); }).done());

        for (int i = 0; i < kWidth * kHeight; ++i) {
            const std::uint8_t* pixel =
                &pixels[(i / kWidth) * stride + (i % kWidth) * c.bytesPerPixel];
            const std::uint8_t bgr[] = {pixel[2 - c.red], pixel[1], pixel[c.red]};
            ASSERT_EQ(0, std::memcmp(bgr, &expected[i * 3], 3))
                << "layout " << static_cast<int>(c.layout) << ", pixel " << i;
            if (c.bytesPerPixel == 4) {
                ASSERT_EQ(pixel[3], 0xA5) << "alpha of pixel " << i;
            }
        }
        for (int row = 0; row < kHeight && c.padding != 0; ++row) {
            for (int b = kWidth * c.bytesPerPixel; b < stride; ++b) {
                ASSERT_EQ(pixels[row * stride + b], 0xA5) << "padding after row " << row;
            }
        }
        ASSERT_FALSE(percents.empty());
        EXPECT_EQ(percents.back(), 100);
    }
}

TEST(StippleBuffer, ARefusedRunSaysWhyAndLeavesTheBufferAlone) {
    struct Case {
        int height;
        StippleSettings settings;
        const SettingsLimits* limits;
        StippleStatus status;
        const char* words;
    };
    const Case cases[] = {
        {-2, kSettings, &kDialogLimits, StippleStatus::SizeRefused,
         "a 2 x -2 image cannot be filtered"},
        {2,
         {0, 2, 40, 80, Star},
         &kDialogLimits,
         StippleStatus::BadSetting,
         "max-size is 40, outside its range 2 to 30"},
        {2,
         {0, 2, 9, 80, 6},
         &kToolLimits,
         StippleStatus::BadSetting,
         "shape is 6, outside its range 0 to 5"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> pixels(12, 7);
        const PixelBuffer buffer{pixels.data(), 2, c.height, PixelLayout::Rgb};
        const StippleResult result = StippleBuffer(buffer, c.settings, 1, {}, *c.limits);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(DescribeResult(result), c.words);
        EXPECT_EQ(pixels, std::vector<std::uint8_t>(12, 7));
    }
    // The tool's wider sizes pass where the dialog's would not.
    std::vector<std::uint8_t> pixels(12, 7);
    const PixelBuffer buffer{pixels.data(), 2, 2, PixelLayout::Rgb};
    EXPECT_TRUE(StippleBuffer(buffer, {0, 2, 40, 80, Star}, 1, {}, kToolLimits).done());
}

// Bands drawn on any number of threads give the sequential run's pixels: shapes that cross a band
// edge, the white background, every shape, sizes from one pixel to many bands tall, drawn on the
// caller's rows (three bytes a pixel) and through rows of the run's own (four), the rows said to
// be final as they come.
TEST(StippleBuffer, AnyThreadCountGivesThePluginRunsPixels) {
    struct Size {
        int width, height;
    };
    for (const Size size :
         {Size{1, 1}, Size{61, 3}, Size{7, 700}, Size{201, 333}, Size{400, 401}}) {
        for (std::int32_t shape = Circle; shape <= Star; ++shape) {
            const StippleSettings settings{.clearFirst = shape % 2,
                                           .minSize = 2 + shape,
                                           .maxSize = 30,
                                           .density = 100,
                                           .shape = shape};
            const std::uint32_t seed = 1000 + shape;
            const std::vector<BYTE> expected = PluginRun(seed, settings, size.width, size.height);
            const bool inPlace = shape / 2 % 2 == 0;
            const std::vector<BYTE> want = inPlace ? expected : BgrToRgba(expected);
            const std::size_t rowBytes = want.size() / size.height;
            for (const unsigned threads : {1u, 2u, 3u, 8u}) {
                std::vector<BYTE> pixels = RecordingHost(size.width, size.height).image;
                if (!inPlace) pixels = BgrToRgba(pixels);
                const PixelBuffer buffer{pixels.data(), size.width, size.height,
                                         inPlace ? PixelLayout::Bgr : PixelLayout::Rgba};
                // Rows said to be final must already be, as a host passing them on reads them.
                int finalRows = 0;
                const auto rowsFinal = [&](int rows) {
                    EXPECT_GT(rows, finalRows);
                    EXPECT_TRUE(
                        std::equal(pixels.begin(), pixels.begin() + rows * rowBytes, want.begin()));
                    finalRows = rows;
                };
                ASSERT_TRUE(
                    StippleBuffer(buffer, settings, seed, {}, kDialogLimits, threads, rowsFinal)
                        .done());
                ASSERT_EQ(pixels, want) << size.width << " x " << size.height << ", shape " << shape
                                        << ", " << threads << " threads";
                EXPECT_EQ(finalRows, size.height);
            }
        }
    }
}

// The band run places its shapes in parts, each from the generator moved on past the ones before.
TEST(StippleRandom, SkipIsThatManyDraws) {
    for (const std::uint64_t steps : {0ull, 1ull, 2ull, 3ull, 196608ull, 1000003ull}) {
        StippleRandom drawn(12345), skipped(12345);
        for (std::uint64_t i = 0; i < steps; ++i) drawn.Next();
        skipped.Skip(steps);
        EXPECT_EQ(skipped.state, drawn.state) << steps << " steps";
    }
}
