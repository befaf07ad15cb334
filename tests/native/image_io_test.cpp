// The moxel tool's image loading on pictures libvips makes here.
#include "image_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "common/temp_dir.h"

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// A picture of solid 8 x 8 blocks (so JPEG keeps each block's colour), `colour` in the top left
// block and grey elsewhere.
VImage Blocks(int width, int height, std::vector<double> colour, std::vector<double> rest) {
    StartImageLibrary();
    VImage grey = VImage::black(width, height, VImage::option()->set("bands", 3)) + rest;
    VImage corner = VImage::black(8, 8, VImage::option()->set("bands", 3)) + colour;
    return grey.insert(corner, 0, 0)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

std::string Encoded(const VImage& image, const char* suffix, vips::VOption* options = nullptr) {
    void* data = nullptr;
    std::size_t size = 0;
    image.write_to_buffer(suffix, &data, &size, options);
    std::string bytes(static_cast<const char*>(data), size);
    g_free(data);
    return bytes;
}

// AVIF made by libvips's command-line tool, which opens libvips's HEIF module for itself: this
// process must not, or it would hide whether the loader opens the module when a file needs it.
std::string EncodedAvif(const VImage& image) {
    TempDir dir;
    const fs::path png = dir.file("in.png"), avif = dir.file("out.avif");
    image.write_to_file(png.c_str());
    const std::string command =
        "env -u VIPSHOME vips copy '" + png.string() + "' '" + avif.string() + "[lossless]'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadFile(avif);
}

Image Load(const std::string& bytes, LoadOptions options = {}) {
    return LoadImageFromMemory(bytes.data(), bytes.size(), "test image", options);
}

std::vector<int> Pixel(const Image& image, int x, int y) {
    const std::uint8_t* p = image.pixels.get() + (std::size_t(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}

void ExpectNear(const std::vector<int>& got, const std::vector<int>& want, int tolerance,
                const std::string& what) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(got[i], want[i], tolerance) << what << ", channel " << i;
    }
}

TEST(ImageLoad, EveryFormatReadsAsEightBitSrgb) {
    const VImage rgb = Blocks(24, 16, {200, 30, 60}, {90, 120, 150});
    const VImage wide =
        (rgb.cast(VIPS_FORMAT_USHORT) * 257)
            .cast(VIPS_FORMAT_USHORT)
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    const VImage grey = Blocks(24, 16, {200, 200, 200}, {90, 90, 90})[1];
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<int> corner, rest;  // the top left block and the others
        int tolerance;
    };
    const Case cases[] = {
        {"PNG", Encoded(rgb, ".png"), {200, 30, 60}, {90, 120, 150}, 0},
        {"16-bit PNG", Encoded(wide, ".png"), {200, 30, 60}, {90, 120, 150}, 0},
        {"grey PNG", Encoded(grey, ".png"), {200, 200, 200}, {90, 90, 90}, 0},
        {"JPEG",
         Encoded(rgb, ".jpg", VImage::option()->set("Q", 100)),
         {200, 30, 60},
         {90, 120, 150},
         3},
        {"WebP",
         Encoded(rgb, ".webp", VImage::option()->set("lossless", true)),
         {200, 30, 60},
         {90, 120, 150},
         0},
        {"TIFF", Encoded(rgb, ".tif"), {200, 30, 60}, {90, 120, 150}, 0},
        {"GIF", Encoded(rgb, ".gif"), {200, 30, 60}, {90, 120, 150}, 8},
        {"AVIF", EncodedAvif(rgb), {200, 30, 60}, {90, 120, 150}, 8},
    };
    for (const Case& c : cases) {
        const Image image = Load(c.bytes);
        EXPECT_EQ(image.width, 24) << c.what;
        EXPECT_EQ(image.height, 16) << c.what;
        ExpectNear(Pixel(image, 0, 0), c.corner, c.tolerance, c.what);
        ExpectNear(Pixel(image, 20, 12), c.rest, c.tolerance, c.what);
    }
}

TEST(ImageLoad, TurnsByTheOrientationTag) {
    // Where the top left block of the stored picture ends up, by orientation.
    struct Case {
        int orientation;
        int x, y;  // in the 16 x 24 or 24 x 16 upright picture
    };
    for (const Case& c : {Case{1, 0, 0},
                          {2, 23, 0},
                          {3, 23, 15},
                          {4, 0, 15},
                          {5, 0, 0},
                          {6, 15, 0},
                          {7, 15, 23},
                          {8, 0, 23}}) {
        VImage stored = Blocks(24, 16, {250, 0, 0}, {0, 0, 250}).copy();
        stored.set(VIPS_META_ORIENTATION, c.orientation);
        const Image image = Load(Encoded(stored, ".jpg", VImage::option()->set("Q", 100)));
        const bool turned = c.orientation >= 5;
        EXPECT_EQ(image.width, turned ? 16 : 24) << c.orientation;
        EXPECT_EQ(image.height, turned ? 24 : 16) << c.orientation;
        EXPECT_GT(Pixel(image, c.x, c.y)[0], 200) << c.orientation;
    }
}

TEST(ImageLoad, ConvertsEmbeddedProfilesAndCmykToSrgb) {
    const VImage rgb = Blocks(16, 16, {60, 150, 90}, {200, 130, 80});
    for (const char* profile : {"p3", "cmyk"}) {
        const VImage stored = rgb.icc_transform(profile, VImage::option()->set("embedded", true));
        // The stored numbers are not sRGB's, so a loader ignoring the profile gets this wrong.
        EXPECT_GT(std::abs(stored.getpoint(0, 0)[0] - 60), 8) << profile;
        const Image image = Load(Encoded(stored, std::string(profile) == "p3" ? ".png" : ".jpg",
                                         VImage::option()->set("Q", 100)));
        ExpectNear(Pixel(image, 0, 0), {60, 150, 90}, 6, profile);
        ExpectNear(Pixel(image, 12, 12), {200, 130, 80}, 6, profile);
    }
}

TEST(ImageLoad, FlattensTransparencyInGammaEncodedValues) {
    StartImageLibrary();  // before any libvips call, as in the tool
    // Black at 0, 25, 50 and 100 % coverage over white, then over blue.
    VImage alpha = VImage::black(4, 1);
    for (const int x : {1, 2, 3})
        alpha = alpha.insert(VImage::black(1, 1) + (x == 3 ? 255 : 64 * x), x, 0);
    const VImage pixels =
        VImage::black(4, 1, VImage::option()->set("bands", 3))
            .bandjoin(alpha)
            .cast(VIPS_FORMAT_UCHAR)
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const std::string png = Encoded(pixels, ".png");
    const Image white = Load(png);
    const int want[] = {255, 191, 127, 0};
    for (int x = 0; x < 4; ++x)
        ExpectNear(Pixel(white, x, 0), {want[x], want[x], want[x]}, 1, "white");
    const Image blue = Load(png, {.maxPixels = 1'000'000, .background = {0, 0, 255}});
    ExpectNear(Pixel(blue, 1, 0), {0, 0, 191}, 1, "blue");
}

TEST(ImageLoad, RefusesOtherLoadersAndBadFilesWithOneLine) {
    const VImage rgb = Blocks(16, 16, {1, 2, 3}, {4, 5, 6});
    const std::string png = Encoded(rgb, ".png");
    const std::string jpeg = Encoded(rgb, ".jpg");
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        // Formats libvips reads, but not through a loader on our list.
        {"PPM", Encoded(rgb, ".ppm"), "not an image this tool reads"},
        {"matrix", "2 2\n1 2\n3 4\n", "not an image this tool reads"},
        {"SVG", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>",
         "not an image this tool reads"},
        {"PDF", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n",
         "not an image this tool reads"},
        {"BMP", std::string("BM") + std::string(60, '\0'), "not an image this tool reads"},
        {"empty", "", "empty file"},
        {"cut PNG", png.substr(0, png.size() * 2 / 3), ""},
        {"cut JPEG", jpeg.substr(0, jpeg.size() / 2), ""},
    };
    for (const Case& c : cases) {
        try {
            Load(c.bytes);
            ADD_FAILURE() << c.what << " was read";
        } catch (const ImageError& e) {
            const std::string message = e.what();
            EXPECT_TRUE(message.starts_with("test image: ")) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

TEST(ImageLoad, RefusesACutOffPngEveryTimeWhileOtherThreadsLoadToo) {
    // libvips now and then reports the error and still returns the pixels: a few in a hundred.
    // Its error buffer is the whole process's, so batch jobs decoding side by side must neither
    // wipe a cut file's error nor fail a whole file with it.
    const std::string png = Encoded(Blocks(16, 16, {1, 2, 3}, {4, 5, 6}), ".png");
    const std::string cut = png.substr(0, png.size() * 2 / 3);
    std::atomic<int> cutRead = 0, wholeRefused = 0;
    std::vector<std::thread> jobs;
    for (int job = 0; job < 4; ++job) {
        jobs.emplace_back([&, job] {
            for (int i = 0; i < 50; ++i) {
                const bool whole = (i + job) % 2 == 0;
                try {
                    Load(whole ? png : cut);
                    cutRead += whole ? 0 : 1;
                } catch (const ImageError&) {
                    wholeRefused += whole ? 1 : 0;
                }
            }
        });
    }
    for (std::thread& job : jobs) job.join();
    EXPECT_EQ(cutRead, 0);
    EXPECT_EQ(wholeRefused, 0);
}

TEST(ImageLoad, RefusesTooManyPixelsFromTheHeader) {
    const std::string png = Encoded(Blocks(100, 100, {1, 2, 3}, {4, 5, 6}), ".png");
    EXPECT_EQ(Load(png, {.maxPixels = 10'000, .background = {}}).width, 100);
    EXPECT_THROW(Load(png, {.maxPixels = 9'999, .background = {}}), ImageError);
}

}  // namespace

// The tool encodes while the filter still draws: the encoder must take each row only once the gate
// says it is final, and a drawing that stops short must leave no file. Rows are made final slowly,
// top down, over pixels that start black; the libvips savers' path (TIFF) and the tool's own PNG
// writer each go through the gate.
TEST(ImageSave, EncodesRowsOnlyOnceTheGateSaysTheyAreFinal) {
    StartImageLibrary();
    constexpr int kWidth = 64, kHeight = 600;
    TempDir dir;
    for (const auto& [format, name] :
         {std::pair{ImageFormat::Png, "out.png"}, std::pair{ImageFormat::Tiff, "out.tif"}}) {
        for (const bool finished : {true, false}) {
            Image image = Load(Encoded(Blocks(kWidth, kHeight, {0, 0, 0}, {0, 0, 0}), ".png"));
            RowGate gate;
            std::thread draw([&] {
                const int last = finished ? kHeight : kHeight / 2;
                for (int row = 0; row < last; ++row) {
                    std::uint8_t* line = image.pixels.get() + std::size_t(row) * kWidth * 3;
                    for (int i = 0; i < kWidth * 3; ++i) line[i] = std::uint8_t(row + i);
                    if (row % 50 == 49) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                        gate.Open(row + 1);
                    }
                }
                gate.Open(last);
                gate.Close();
            });
            const fs::path out = dir.file(name);
            fs::remove(out);
            SaveOptions options{.format = format, .gate = &gate};
            bool threw = false;
            try {
                OutputFile(out, false).Write(image, options);
            } catch (const ImageError&) {
                threw = true;
            }
            draw.join();
            EXPECT_EQ(threw, !finished) << name;
            if (!finished) {
                EXPECT_FALSE(fs::exists(out)) << name;
                continue;
            }
            const Image saved = Load(ReadFile(out));
            ASSERT_EQ(saved.size(), image.size()) << name;
            EXPECT_EQ(0, std::memcmp(saved.pixels.get(), image.pixels.get(), image.size())) << name;
        }
    }
}
