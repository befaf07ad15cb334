// Tests for the moxel tool's image files. Every input is made here, at test time: PNGs chunk by
// chunk (so a test can say exactly what the header claims), JPEGs with TurboJPEG.
//
// This file replaces the global operator new to see how large an allocation loading gets to make;
// give it an executable of its own so it cannot clash with another replacement.

#include "image_io.h"

#include "common/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <vector>

// ---------------------------------------------------------------------------------------------
// The largest single allocation made while tracking is on. A header claiming 60000 x 60000 pixels
// must be refused before anything the size of those pixels is asked for.

namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
    if (g_trackAllocations.load(std::memory_order_relaxed)) {
        std::size_t largest = g_largestAllocation.load(std::memory_order_relaxed);
        while (size > largest && !g_largestAllocation.compare_exchange_weak(largest, size)) {
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
// Kept out of line: inlined into callers, GCC would see free() meet new and warn of a mismatch.
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kNoLimit = 100'000'000;

class AllocationWatch {
public:
    AllocationWatch() {
        g_largestAllocation = 0;
        g_trackAllocations = true;
    }
    ~AllocationWatch() { g_trackAllocations = false; }
    std::size_t largest() const { return g_largestAllocation; }
};

// ---------------------------------------------------------------------------------------------
// Files

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> ListDirectory(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << '"' << text << "\" does not contain \"" << part << '"';
}

// ---------------------------------------------------------------------------------------------
// Images

// Smooth enough for JPEG to keep close, varied enough that a swapped channel or row shows.
Image MakeImage(int width, int height) {
    Image image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(40 + 150 * x / std::max(1, width - 1));   // blue
            p[1] = static_cast<std::uint8_t>(30 + 180 * y / std::max(1, height - 1));  // green
            p[2] = static_cast<std::uint8_t>(200 - 100 * (x + y) / std::max(1, width + height - 2));
        }
    }
    return image;
}

// Pseudo-random bytes: nothing a codec could smooth over, so only a lossless trip keeps them.
Image MakeNoise(int width, int height, std::uint32_t seed) {
    Image image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (auto& byte : image.pixels) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return image;
}

struct Bgr {
    int b, g, r;
    friend bool operator==(const Bgr&, const Bgr&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Bgr& c) {
        return out << "(B " << c.b << ", G " << c.g << ", R " << c.r << ")";
    }
};

Bgr PixelAt(const Image& image, int x, int y) {
    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

// ---------------------------------------------------------------------------------------------
// PNG files built chunk by chunk

void Put32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendChunk(Bytes& out, const char (&type)[5], std::span<const std::uint8_t> data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out,
          static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
}

Bytes Deflate(std::span<const std::uint8_t> data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(size);
    return out;
}

constexpr int kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;

struct PngLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8;
    int colourType = kRgb;
    Bytes rows{};                       // every row's bytes back to back, without filter bytes
    Bytes palette{};                    // PLTE: r,g,b per entry
    Bytes transparency{};               // tRNS
    std::size_t rowsInIdat = SIZE_MAX;  // fewer rows than the header claims, for headers that lie
};

Bytes BuildPng(const PngLayout& layout) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    Put32(header, layout.width);
    Put32(header, layout.height);
    header.insert(header.end(), {static_cast<std::uint8_t>(layout.bitDepth),
                                 static_cast<std::uint8_t>(layout.colourType), 0, 0, 0});
    AppendChunk(png, "IHDR", header);
    if (!layout.palette.empty()) AppendChunk(png, "PLTE", layout.palette);
    if (!layout.transparency.empty()) AppendChunk(png, "tRNS", layout.transparency);

    const int channels = layout.colourType == kRgb         ? 3
                         : layout.colourType == kRgba      ? 4
                         : layout.colourType == kGreyAlpha ? 2
                                                           : 1;
    const std::size_t rowBytes =
        (static_cast<std::size_t>(layout.width) * channels * layout.bitDepth + 7) / 8;
    const std::size_t rows = std::min<std::size_t>(layout.height, layout.rowsInIdat);
    Bytes filtered;
    for (std::size_t y = 0; y < rows; ++y) {
        filtered.push_back(0);  // filter type None
        const std::size_t start = y * rowBytes;
        if (start + rowBytes <= layout.rows.size()) {
            filtered.insert(filtered.end(),
                            layout.rows.begin() + static_cast<std::ptrdiff_t>(start),
                            layout.rows.begin() + static_cast<std::ptrdiff_t>(start + rowBytes));
        } else {
            filtered.insert(filtered.end(), rowBytes, 0);
        }
    }
    AppendChunk(png, "IDAT", Deflate(filtered));
    AppendChunk(png, "IEND", {});
    return png;
}

// ---------------------------------------------------------------------------------------------
// JPEG files made with TurboJPEG

Bytes EncodeJpeg(std::span<const std::uint8_t> pixels, int width, int height, int pixelFormat,
                 int subsampling, int quality) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int pitch = width * tjPixelSize[pixelFormat];
    EXPECT_EQ(tjCompress2(handle, pixels.data(), width, pitch, height, pixelFormat, &out, &size,
                          subsampling, quality, 0),
              0)
        << tjGetErrorStr2(handle);
    Bytes jpeg(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

Bytes EncodeJpeg(const Image& image, int quality = 95) {
    return EncodeJpeg(image.pixels, image.width, image.height, TJPF_BGR, TJSAMP_444, quality);
}

// Offset of the first byte after the given marker (0xff, marker).
std::size_t FindMarker(const Bytes& jpeg, std::uint8_t marker) {
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xff && jpeg[i + 1] == marker) return i + 2;
    }
    ADD_FAILURE() << "marker " << int{marker} << " not found";
    return 0;
}

constexpr std::uint8_t kSof0 = 0xc0, kSos = 0xda;

// ---------------------------------------------------------------------------------------------
// Fixture: a fresh directory per test.

class ImageIoTest : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, std::span<const std::uint8_t> bytes) {
        const fs::path path = dir_ / name;
        WriteBytes(path, bytes);
        return path;
    }

    // The reason LoadImage gives, or "" if it loads.
    std::string LoadError(const fs::path& path, std::uint64_t maxPixels = kNoLimit) {
        try {
            LoadImage(path, maxPixels);
        } catch (const ImageError& error) {
            return error.what();
        }
        return "";
    }

    std::string SaveError(const Image& image, const fs::path& path, ImageFormat format,
                          const SaveOptions& options = {}) {
        try {
            SaveImage(image, path, format, options);
        } catch (const ImageError& error) {
            return error.what();
        }
        return "";
    }

    TempDir temp_;
    const fs::path& dir_ = temp_.path();
};

// ---------------------------------------------------------------------------------------------
// Names

TEST(FormatFromExtensionTest, KnowsPngAndJpegInAnyCase) {
    const struct {
        const char* name;
        std::optional<ImageFormat> format;
    } cases[] = {
        {"a.png", ImageFormat::Png},
        {"A.PNG", ImageFormat::Png},
        {"dir.d/b.Png", ImageFormat::Png},
        {"c.jpg", ImageFormat::Jpeg},
        {"d.JPG", ImageFormat::Jpeg},
        {"e.jpeg", ImageFormat::Jpeg},
        {"f.JpEg", ImageFormat::Jpeg},
        {"g.bmp", std::nullopt},
        {"h.gif", std::nullopt},
        {"png", std::nullopt},
        {"i", std::nullopt},
        {"j.png.txt", std::nullopt},
        {"k.pngx", std::nullopt},
        {"l.jpe", std::nullopt},
        {".png", std::nullopt},  // a hidden file called ".png" has no extension
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFromExtension(c.name), c.format) << '"' << c.name << '"';
    }
}

// ---------------------------------------------------------------------------------------------
// Round trips

TEST_F(ImageIoTest, PngRoundTripKeepsEveryByte) {
    const struct {
        int width, height, compression;
    } cases[] = {{1, 1, 1}, {3, 2, 1}, {17, 5, 0}, {17, 5, 9}, {640, 480, 1}, {333, 7, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.width << " x " << c.height << ", level " << c.compression);
        const Image original =
            MakeNoise(c.width, c.height, static_cast<std::uint32_t>(c.width * 31 + c.compression));
        const fs::path path = dir_ / "round.png";
        SaveImage(original, path, ImageFormat::Png, {.pngCompression = c.compression});
        const Image loaded = LoadImage(path, kNoLimit);
        EXPECT_EQ(loaded.width, c.width);
        EXPECT_EQ(loaded.height, c.height);
        EXPECT_TRUE(loaded.pixels == original.pixels);
    }
}

TEST_F(ImageIoTest, PngCompressionLevelIsUsed) {
    const Image image = MakeImage(400, 300);
    SaveImage(image, dir_ / "stored.png", ImageFormat::Png, {.pngCompression = 0});
    SaveImage(image, dir_ / "small.png", ImageFormat::Png, {.pngCompression = 9});
    const auto stored = fs::file_size(dir_ / "stored.png");
    EXPECT_GT(stored, image.pixels.size());  // level 0 only wraps the bytes
    EXPECT_LT(fs::file_size(dir_ / "small.png") * 4, stored);
    EXPECT_TRUE(LoadImage(dir_ / "stored.png", kNoLimit).pixels == image.pixels);
    EXPECT_TRUE(LoadImage(dir_ / "small.png", kNoLimit).pixels == image.pixels);
}

TEST_F(ImageIoTest, JpegRoundTripStaysClose) {
    const Image original = MakeImage(96, 64);
    for (const int quality : {75, 90, 100}) {
        SCOPED_TRACE(::testing::Message() << "quality " << quality);
        const fs::path path = dir_ / "round.jpg";
        SaveImage(original, path, ImageFormat::Jpeg, {.jpegQuality = quality});
        const Image loaded = LoadImage(path, kNoLimit);
        ASSERT_EQ(loaded.width, original.width);
        ASSERT_EQ(loaded.height, original.height);
        ASSERT_EQ(loaded.pixels.size(), original.pixels.size());
        long total = 0;
        int worst = 0;
        for (std::size_t i = 0; i < original.pixels.size(); ++i) {
            const int difference = std::abs(loaded.pixels[i] - original.pixels[i]);
            total += difference;
            worst = std::max(worst, difference);
        }
        const double mean =
            static_cast<double>(total) / static_cast<double>(original.pixels.size());
        EXPECT_LT(mean, quality == 100 ? 1.0 : 2.5);
        EXPECT_LE(worst, quality == 100 ? 4 : 16);
    }
}

TEST_F(ImageIoTest, JpegQualityIsUsed) {
    const Image image = MakeNoise(128, 128, 7);
    SaveImage(image, dir_ / "low.jpg", ImageFormat::Jpeg, {.jpegQuality = 30});
    SaveImage(image, dir_ / "high.jpg", ImageFormat::Jpeg, {.jpegQuality = 95});
    EXPECT_LT(fs::file_size(dir_ / "low.jpg") * 2, fs::file_size(dir_ / "high.jpg"));
}

TEST_F(ImageIoTest, JpegKeepsFullColourResolution) {
    // One red column on white: with halved chroma its colour would spread into its neighbours.
    Image image = {16, 16, Bytes(16 * 16 * 3, 255)};
    for (int y = 0; y < 16; ++y) {
        std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * 16 + 7) * 3];
        p[0] = 0, p[1] = 0, p[2] = 255;
    }
    SaveImage(image, dir_ / "line.jpg", ImageFormat::Jpeg, {.jpegQuality = 95});
    const Image loaded = LoadImage(dir_ / "line.jpg", kNoLimit);
    const Bgr line = PixelAt(loaded, 7, 8);
    const Bgr beside = PixelAt(loaded, 6, 8);
    EXPECT_GT(line.r - line.g, 200) << line;
    EXPECT_LT(beside.r - beside.g, 40) << beside;
}

TEST_F(ImageIoTest, FormatComesFromTheArgumentNotTheName) {
    const Image image = MakeNoise(5, 4, 3);
    SaveImage(image, dir_ / "picture.out", ImageFormat::Png);
    const Bytes bytes = ReadBytes(dir_ / "picture.out");
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(bytes[1], 'P');
    // An unknown extension leaves the content to decide.
    EXPECT_TRUE(LoadImage(dir_ / "picture.out", kNoLimit).pixels == image.pixels);
}

// ---------------------------------------------------------------------------------------------
// Conversions to 8-bit BGR

struct ConversionCase {
    const char* name;
    PngLayout layout;
    std::vector<Bgr> expected;  // row by row
};

// Helpers for writing 16-bit samples big-endian.
void Put16(Bytes& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

TEST_F(ImageIoTest, PngInputsBecomeBgr) {
    Bytes grey16, rgb16, rgba16;
    for (const int v : {0x0000, 0x1212, 0x8080, 0xffff}) Put16(grey16, v);
    for (const int v : {0xffff, 0x8080, 0x0000, 0x1212, 0x3434, 0x5656}) Put16(rgb16, v);
    for (const int v : {0x0000, 0xffff, 0x0000, 0xffff, 0x0000, 0x0000, 0xffff, 0x0000}) {
        Put16(rgba16, v);
    }
    const ConversionCase cases[] = {
        {"grey 8-bit",
         {.width = 2, .height = 2, .colourType = kGrey, .rows = {0, 64, 200, 255}},
         {{0, 0, 0}, {64, 64, 64}, {200, 200, 200}, {255, 255, 255}}},
        {"grey 1-bit",
         {.width = 2, .height = 1, .bitDepth = 1, .colourType = kGrey, .rows = {0b0100'0000}},
         {{0, 0, 0}, {255, 255, 255}}},
        {"grey 16-bit",
         {.width = 2, .height = 2, .bitDepth = 16, .colourType = kGrey, .rows = grey16},
         {{0, 0, 0}, {0x12, 0x12, 0x12}, {0x80, 0x80, 0x80}, {255, 255, 255}}},
        {"RGB 16-bit",
         {.width = 2, .height = 1, .bitDepth = 16, .colourType = kRgb, .rows = rgb16},
         {{0, 0x80, 255}, {0x56, 0x34, 0x12}}},
        {"palette",
         {.width = 3,
          .height = 1,
          .colourType = kPalette,
          .rows = {2, 0, 1},
          .palette = {255, 0, 0, 0, 255, 0, 10, 20, 30}},
         {{30, 20, 10}, {0, 0, 255}, {0, 255, 0}}},
        {"palette with transparency",
         {.width = 2,
          .height = 1,
          .colourType = kPalette,
          .rows = {0, 1},
          .palette = {0, 0, 255, 0, 255, 0},
          .transparency = {0, 255}},
         {{255, 255, 255}, {0, 255, 0}}},
        {"grey with alpha",
         {.width = 2, .height = 1, .colourType = kGreyAlpha, .rows = {0, 0, 0, 255}},
         {{255, 255, 255}, {0, 0, 0}}},
        {"RGBA 8-bit",
         {.width = 2, .height = 1, .colourType = kRgba, .rows = {255, 0, 0, 0, 12, 34, 56, 255}},
         {{255, 255, 255}, {56, 34, 12}}},
        {"RGBA 16-bit",
         {.width = 2, .height = 1, .bitDepth = 16, .colourType = kRgba, .rows = rgba16},
         {{0, 255, 0}, {255, 255, 255}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = Write("input.png", BuildPng(c.layout));
        const Image image = LoadImage(path, kNoLimit);
        ASSERT_EQ(image.width, static_cast<int>(c.layout.width));
        ASSERT_EQ(image.height, static_cast<int>(c.layout.height));
        ASSERT_EQ(image.pixels.size(), c.expected.size() * 3);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const int x = static_cast<int>(i % c.layout.width);
            const int y = static_cast<int>(i / c.layout.width);
            EXPECT_EQ(PixelAt(image, x, y), c.expected[i]) << "pixel " << x << ", " << y;
        }
    }
}

TEST_F(ImageIoTest, HalfTransparentPngLiesBetweenColourAndWhite) {
    // Pure blue at half alpha: green and red come up from 0 towards white, blue stays full.
    const PngLayout layout{.width = 1, .height = 1, .colourType = kRgba, .rows = {0, 0, 255, 128}};
    const Image image = LoadImage(Write("half.png", BuildPng(layout)), kNoLimit);
    const Bgr pixel = PixelAt(image, 0, 0);
    EXPECT_EQ(pixel.b, 255);
    EXPECT_GT(pixel.g, 60);
    EXPECT_LT(pixel.g, 230);
    EXPECT_EQ(pixel.g, pixel.r);
}

TEST_F(ImageIoTest, GreyJpegBecomesBgr) {
    Bytes grey(32 * 16);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i % 32 * 8);
    const fs::path path = Write("grey.jpg", EncodeJpeg(grey, 32, 16, TJPF_GRAY, TJSAMP_GRAY, 100));
    const Image image = LoadImage(path, kNoLimit);
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 16);
    for (const int x : {0, 10, 31}) {
        const Bgr pixel = PixelAt(image, x, 5);
        EXPECT_EQ(pixel.b, pixel.g);
        EXPECT_EQ(pixel.g, pixel.r);
        EXPECT_NEAR(pixel.g, x * 8, 3) << "x " << x;
    }
}

TEST_F(ImageIoTest, CmykJpegIsRefused) {
    const Bytes cmyk(16 * 8 * 4, 100);
    const fs::path path = Write("print.jpg", EncodeJpeg(cmyk, 16, 8, TJPF_CMYK, TJSAMP_444, 90));
    EXPECT_EQ(LoadError(path), "CMYK JPEG files are not supported");
}

// ---------------------------------------------------------------------------------------------
// Files that are not there, or not images

TEST_F(ImageIoTest, MissingFileGivesTheSystemsReason) {
    EXPECT_EQ(LoadError(dir_ / "nowhere.png"), ErrnoText(ENOENT));
    EXPECT_EQ(LoadError(dir_ / "no-dir" / "nowhere.jpg"), ErrnoText(ENOENT));
}

TEST_F(ImageIoTest, DirectoryIsNotAnImage) {
    fs::create_directory(dir_ / "folder.png");
    EXPECT_EQ(LoadError(dir_ / "folder.png"), ErrnoText(EISDIR));
}

TEST_F(ImageIoTest, EmptyFileIsRefused) {
    for (const char* name : {"empty.png", "empty.jpg", "empty.dat"}) {
        EXPECT_EQ(LoadError(Write(name, {})), "empty file") << name;
    }
}

TEST_F(ImageIoTest, WrongContentForTheNameIsRefused) {
    const Bytes png = BuildPng({.width = 2, .height = 2, .rows = Bytes(12, 7)});
    const Bytes jpeg = EncodeJpeg(MakeImage(8, 8));
    const std::string text = "P6 2 2 255\n";
    const Bytes notImage(text.begin(), text.end());
    const struct {
        const char* name;
        const Bytes& bytes;
        const char* reason;
    } cases[] = {
        {"photo.jpg", png, "not a JPEG file (the data is PNG)"},
        {"photo.JPEG", png, "not a JPEG file (the data is PNG)"},
        {"photo.png", jpeg, "not a PNG file (the data is JPEG)"},
        {"text.png", notImage, "not a PNG file"},
        {"text.jpg", notImage, "not a JPEG file"},
        {"text.ppm", notImage, "not a PNG or JPEG file"},
        {"text", notImage, "not a PNG or JPEG file"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadError(Write(c.name, c.bytes)), c.reason) << c.name;
    }
}

TEST_F(ImageIoTest, UnknownExtensionLoadsByContent) {
    const Image image = MakeNoise(6, 3, 11);
    SaveImage(image, dir_ / "a.png", ImageFormat::Png);
    SaveImage(image, dir_ / "b.jpg", ImageFormat::Jpeg);
    fs::rename(dir_ / "a.png", dir_ / "a.image");
    fs::rename(dir_ / "b.jpg", dir_ / "b");
    EXPECT_TRUE(LoadImage(dir_ / "a.image", kNoLimit).pixels == image.pixels);
    EXPECT_EQ(LoadImage(dir_ / "b", kNoLimit).width, 6);
}

// ---------------------------------------------------------------------------------------------
// Damaged files

TEST_F(ImageIoTest, TruncatedPngIsRefusedWhereverItEnds) {
    const Image image = MakeNoise(40, 30, 5);
    SaveImage(image, dir_ / "whole.png", ImageFormat::Png);
    const Bytes whole = ReadBytes(dir_ / "whole.png");
    ASSERT_GT(whole.size(), 100u);
    // In the signature, right after it, in IHDR, after IHDR, in the image data, before IEND,
    // inside IEND.
    for (const std::size_t length :
         {1ul, 4ul, 8ul, 20ul, 33ul, 60ul, whole.size() / 2, whole.size() - 13, whole.size() - 12,
          whole.size() - 4, whole.size() - 1}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string reason = LoadError(Write("cut.png", cut));
        EXPECT_TRUE(Contains(reason, "PNG")) << "cut at " << length << " of " << whole.size();
        EXPECT_TRUE(Contains(reason, "truncated")) << "cut at " << length;
    }
}

TEST_F(ImageIoTest, TruncatedJpegIsRefusedWhereverItEnds) {
    const Bytes whole = EncodeJpeg(MakeImage(64, 48));
    ASSERT_GT(whole.size(), 400u);
    const std::size_t scan = FindMarker(whole, kSos);
    for (const std::size_t length : {1ul, 2ul, 3ul, 20ul, 100ul, scan, scan + 20, whole.size() / 2,
                                     whole.size() - 2, whole.size() - 1}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string reason = LoadError(Write("cut.jpg", cut));
        EXPECT_TRUE(Contains(reason, "truncated")) << "cut at " << length << " of " << whole.size();
        EXPECT_TRUE(Contains(reason, "JPEG")) << "cut at " << length;
    }
}

TEST_F(ImageIoTest, CorruptPngIsRefused) {
    const PngLayout good{.width = 16, .height = 8, .rows = MakeNoise(16, 8, 2).pixels};
    const Bytes whole = BuildPng(good);
    const std::size_t idatData = 8 + 25 + 8;  // signature, IHDR chunk, IDAT length and type

    Bytes badIdatCrc = whole;
    badIdatCrc[idatData + 10] ^= 0x55;
    Bytes badIhdrCrc = whole;
    badIhdrCrc[16 + 3] ^= 0x01;  // the width's low byte, CRC left as it was
    Bytes badSignature = whole;
    badSignature[1] = 'Q';

    PngLayout badDepth = good;
    badDepth.bitDepth = 7;  // CRC correct, value impossible
    PngLayout noData = good;
    noData.rowsInIdat = 3;  // a well-formed file that simply has too few rows

    // A valid chunk whose content is not a zlib stream.
    Bytes garbageIdat(whole.begin(), whole.begin() + 33);
    AppendChunk(garbageIdat, "IDAT", Bytes(64, 0xa5));
    AppendChunk(garbageIdat, "IEND", {});

    const struct {
        const char* name;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"flipped byte in image data", badIdatCrc, "corrupt PNG data (IDAT: "},
        {"flipped byte in header", badIhdrCrc, "corrupt PNG data (IHDR: CRC error)"},
        {"flipped byte in signature", badSignature, "not a PNG file"},
        {"impossible bit depth", BuildPng(badDepth), "corrupt PNG data"},
        {"too few rows", BuildPng(noData), "corrupt PNG data"},
        {"image data not compressed", garbageIdat, "corrupt PNG data"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Contains(LoadError(Write("bad.png", c.bytes)), c.reason)) << c.name;
    }
}

TEST_F(ImageIoTest, CorruptJpegIsRefused) {
    const Bytes whole = EncodeJpeg(MakeImage(64, 48));
    const std::size_t frame = FindMarker(whole, kSof0);
    const std::size_t scan = FindMarker(whole, kSos);
    const std::size_t scanData = scan + (whole[scan] << 8 | whole[scan + 1]);

    Bytes precision = whole;
    precision[frame + 2] = 12;  // sample precision this build cannot decode
    Bytes endInScan = whole;    // an end-of-image marker in the middle of the coded data
    endInScan[scanData + 40] = 0xff;
    endInScan[scanData + 41] = 0xd9;
    Bytes zeroWidth = whole;  // frame header with no columns
    zeroWidth[frame + 5] = 0;
    zeroWidth[frame + 6] = 0;
    Bytes noScan(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(scan - 2));
    noScan.insert(noScan.end(), {0xff, 0xd9});  // tables and frame, then end of image

    const struct {
        const char* name;
        const Bytes& bytes;
    } cases[] = {
        {"12-bit precision", precision},
        {"end marker inside the scan", endInScan},
        {"zero width", zeroWidth},
        {"no scan at all", noScan},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(
            Contains(LoadError(Write("bad.jpg", c.bytes)), "truncated or corrupt JPEG data ("))
            << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Size limits

TEST_F(ImageIoTest, AllocationWatchSeesPixelBuffers) {
    // Without this the two tests below could pass with a watch that sees nothing.
    SaveImage(MakeImage(1000, 500), dir_ / "big.png", ImageFormat::Png);
    SaveImage(MakeImage(1000, 500), dir_ / "big.jpg", ImageFormat::Jpeg);
    for (const char* name : {"big.png", "big.jpg"}) {
        AllocationWatch watch;
        LoadImage(dir_ / name, kNoLimit);
        EXPECT_GE(watch.largest(), 1000u * 500 * 3) << name;
    }
}

TEST_F(ImageIoTest, HugePngHeaderIsRefusedBeforeAllocating) {
    // A valid header and one row of data: nothing but the header's claim is large.
    const Bytes png = BuildPng({.width = 60000, .height = 60000, .rowsInIdat = 1});
    ASSERT_LT(png.size(), 4096u);
    const fs::path path = Write("huge.png", png);

    AllocationWatch watch;
    EXPECT_EQ(LoadError(path), "image too large (60000 x 60000 pixels; the limit is 100000000)");
    EXPECT_LT(watch.largest(), 1u << 20) << "a pixel buffer was allocated before the check";
}

TEST_F(ImageIoTest, HugeJpegHeaderIsRefusedBeforeAllocating) {
    Bytes jpeg = EncodeJpeg(MakeImage(16, 16));
    const std::size_t frame = FindMarker(jpeg, kSof0);
    for (const std::size_t at : {frame + 3, frame + 5}) {  // height, width: 60000 each
        jpeg[at] = 60000 >> 8;
        jpeg[at + 1] = 60000 & 0xff;
    }
    const fs::path path = Write("huge.jpg", jpeg);

    AllocationWatch watch;
    EXPECT_EQ(LoadError(path), "image too large (60000 x 60000 pixels; the limit is 100000000)");
    EXPECT_LT(watch.largest(), 1u << 20) << "a pixel buffer was allocated before the check";
}

TEST_F(ImageIoTest, PixelLimitIsInclusive) {
    const Image image = MakeNoise(10, 10, 1);
    SaveImage(image, dir_ / "ten.png", ImageFormat::Png);
    SaveImage(image, dir_ / "ten.jpg", ImageFormat::Jpeg);
    for (const char* name : {"ten.png", "ten.jpg"}) {
        EXPECT_EQ(LoadError(dir_ / name, 100), "") << name;
        EXPECT_EQ(LoadError(dir_ / name, 99), "image too large (10 x 10 pixels; the limit is 99)")
            << name;
    }
}

// ---------------------------------------------------------------------------------------------
// Saving: the target is whole or untouched, and nothing else is left behind.

TEST_F(ImageIoTest, SaveIntoMissingDirectoryFails) {
    const fs::path path = dir_ / "no-such-dir" / "out.png";
    for (const auto format : {ImageFormat::Png, ImageFormat::Jpeg}) {
        EXPECT_EQ(SaveError(MakeImage(4, 4), path, format), ErrnoText(ENOENT));
    }
    EXPECT_FALSE(fs::exists(dir_ / "no-such-dir"));
    EXPECT_TRUE(ListDirectory(dir_).empty());
}

TEST_F(ImageIoTest, SaveIntoReadOnlyDirectoryFails) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root, which may write into a read-only directory anyway";
    }
    const fs::path locked = dir_ / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    for (const auto format : {ImageFormat::Png, ImageFormat::Jpeg}) {
        EXPECT_EQ(SaveError(MakeImage(4, 4), locked / "out.img", format), ErrnoText(EACCES));
    }
    EXPECT_TRUE(ListDirectory(locked).empty());
    fs::permissions(locked, fs::perms::owner_all);
}

TEST_F(ImageIoTest, FailedRenameLeavesNoTemporaryFile) {
    // The target is a directory: everything succeeds up to the final rename.
    fs::create_directory(dir_ / "taken.png");
    EXPECT_EQ(SaveError(MakeImage(4, 4), dir_ / "taken.png", ImageFormat::Png), ErrnoText(EISDIR));
    EXPECT_EQ(ListDirectory(dir_), std::vector<std::string>{"taken.png"});
    EXPECT_TRUE(fs::is_directory(dir_ / "taken.png"));
}

TEST_F(ImageIoTest, FailedEncodeLeavesOldFileAndNoTemporaryFile) {
    const fs::path path = Write("wide.jpg", Bytes{1, 2, 3});
    const Image tooWide{70000, 1, Bytes(70000 * 3, 128)};
    EXPECT_TRUE(Contains(SaveError(tooWide, path, ImageFormat::Jpeg), "too large for JPEG"));
    EXPECT_EQ(ListDirectory(dir_), std::vector<std::string>{"wide.jpg"});
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
}

TEST_F(ImageIoTest, SaveReplacesAnExistingFileAndKeepsItsPermissions) {
    const fs::path path = Write("out.png", Bytes{'o', 'l', 'd'});
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Image image = MakeNoise(9, 9, 4);
    SaveImage(image, path, ImageFormat::Png);
    EXPECT_TRUE(LoadImage(path, kNoLimit).pixels == image.pixels);
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ListDirectory(dir_), std::vector<std::string>{"out.png"});
}

TEST_F(ImageIoTest, BadImagesAndOptionsAreRefusedWithoutWriting) {
    const Image good = MakeImage(4, 4);
    Image shortBuffer = good;
    shortBuffer.pixels.pop_back();
    const Image empty{0, 4, {}};
    const struct {
        const char* name;
        const Image& image;
        ImageFormat format;
        SaveOptions options;
        const char* reason;
    } cases[] = {
        {"short buffer",
         shortBuffer,
         ImageFormat::Png,
         {},
         "the image holds 47 bytes of pixels, not 48"},
        {"no width", empty, ImageFormat::Jpeg, {}, "the image is empty"},
        {"quality 0",
         good,
         ImageFormat::Jpeg,
         {.jpegQuality = 0},
         "JPEG quality must be 1 to 100, not 0"},
        {"quality 101",
         good,
         ImageFormat::Jpeg,
         {.jpegQuality = 101},
         "JPEG quality must be 1 to 100, not 101"},
        {"level 10",
         good,
         ImageFormat::Png,
         {.pngCompression = 10},
         "PNG compression must be 0 to 9, not 10"},
        {"level -1",
         good,
         ImageFormat::Png,
         {.pngCompression = -1},
         "PNG compression must be 0 to 9, not -1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SaveError(c.image, dir_ / "out", c.format, c.options), c.reason) << c.name;
    }
    EXPECT_TRUE(ListDirectory(dir_).empty());
}

// ---------------------------------------------------------------------------------------------
// The bundled sample

#ifdef SAMPLE_IMAGE
TEST(SampleImageTest, LoadsAsAColourPhotograph) {
    const Image image = LoadImage(SAMPLE_IMAGE, kNoLimit);
    EXPECT_EQ(image.width, 640);
    EXPECT_EQ(image.height, 480);
    EXPECT_LT(fs::file_size(SAMPLE_IMAGE), 300u * 1024);
    // Not flat and not grey: the stipple needs colours to pick up.
    int distinct = 0;
    bool coloured = false;
    std::vector<bool> seen(1 << 15);
    for (std::size_t i = 0; i < image.pixels.size(); i += 3) {
        const int b = image.pixels[i], g = image.pixels[i + 1], r = image.pixels[i + 2];
        const int key = (b >> 3) << 10 | (g >> 3) << 5 | (r >> 3);
        if (!seen[key]) seen[key] = true, ++distinct;
        coloured = coloured || std::abs(r - b) > 60;
    }
    EXPECT_GT(distinct, 500);
    EXPECT_TRUE(coloured);
}
#endif

}  // namespace
