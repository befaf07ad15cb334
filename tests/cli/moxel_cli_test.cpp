// The moxel tool end to end: the built binary run on files made here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include <csignal>
#include <thread>

#include <lcms2.h>

#include "common/temp_dir.h"
#include "image_io.h"
#include "plugin/win32_host.h"
#include "progress.h"
#include "settings/contract.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string output;  // stdout and stderr together
};

// Runs a shell command, its standard error with its output.
Result Sh(const std::string& command) {
    std::FILE* pipe = popen(("{ " + command + "\n} 2>&1").c_str(), "r");
    Result result{-1, ""};
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.output.append(chunk, n);
    const int wait = pclose(pipe);
    result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return result;
}

Result Moxel(const std::string& arguments) {
    return Sh(std::string(MOXEL_BINARY) + " " + arguments);
}

// 8-bit RGB pixels, rows top to bottom.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
};

// A small image with gradients and edges, so every shape has something to take colours from.
Picture TestImage(int width = 64, int height = 48) {
    Picture image{width, height,
                  std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(y * 5);
            p[1] = static_cast<std::uint8_t>((x / 8 + y / 8) % 2 ? 180 : 30);
            p[2] = static_cast<std::uint8_t>(x * 4);
        }
    }
    return image;
}

void Save(const Picture& picture, const fs::path& path) {
    StartImageLibrary();
    vips::VImage::new_from_memory(const_cast<std::uint8_t*>(picture.pixels.data()),
                                  picture.pixels.size(), picture.width, picture.height, 3,
                                  VIPS_FORMAT_UCHAR)
        .write_to_file(path.c_str());
}

Picture Load(const fs::path& path) {
    const Image image = LoadImage(path, {});
    return {image.width, image.height,
            std::vector<std::uint8_t>(image.pixels.get(), image.pixels.get() + image.size())};
}

class MoxelCli : public ::testing::Test {
protected:
    void SetUp() override {
        input = dir.file("in.png");
        Save(TestImage(), input);
    }

    std::string Quoted(const fs::path& path) const { return "'" + path.string() + "'"; }

    Picture Stipple(const std::string& flags, const std::string& name = "out.png") {
        const fs::path out = dir.file(name);
        const Result result = Moxel(Quoted(input) + " -o " + Quoted(out) + " " + flags);
        EXPECT_EQ(result.status, 0) << result.output;
        return Load(out);
    }

    // Only the image itself and nothing half-written may be left in the directory.
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    TempDir dir;
    fs::path input;
};

TEST_F(MoxelCli, SameSeedSameBytesOnAnyThreadCountOtherSeedOtherPicture) {
    Save(TestImage(64, 400), input);  // tall enough for bands on three threads
    Stipple("--seed 7 --threads 1", "a.png");
    Stipple("--seed 7 --threads 3", "b.png");
    Stipple("--seed 8", "c.png");
    EXPECT_EQ(ReadFile(dir.file("a.png")), ReadFile(dir.file("b.png")));
    EXPECT_NE(Load(dir.file("a.png")).pixels, Load(dir.file("c.png")).pixels);
}

TEST_F(MoxelCli, EveryShapeDrawsItsOwnPicture) {
    std::set<std::vector<std::uint8_t>> pictures;
    for (const char* shape : {"circle", "triangle", "square", "pentagon", "hexagon", "star"}) {
        const Picture out = Stipple(std::string("--seed 3 --shape ") + shape);
        EXPECT_NE(out.pixels, TestImage().pixels) << shape;
        pictures.insert(out.pixels);
    }
    EXPECT_EQ(pictures.size(), 6u);
}

TEST_F(MoxelCli, WhiteLeavesOnlyWhiteAndSourceColours) {
    std::set<std::uint32_t> palette{0xFFFFFF};
    const Picture source = TestImage();
    auto colour = [](const Picture& image, std::size_t i) {
        return image.pixels[i] | image.pixels[i + 1] << 8 | image.pixels[i + 2] << 16;
    };
    for (std::size_t i = 0; i < source.pixels.size(); i += 3) palette.insert(colour(source, i));
    const Picture out = Stipple("--seed 5 --white");
    int white = 0;
    for (std::size_t i = 0; i < out.pixels.size(); i += 3) {
        ASSERT_TRUE(palette.contains(colour(out, i)));
        white += colour(out, i) == 0xFFFFFF;
    }
    EXPECT_GT(white, 0);
    EXPECT_LT(white, static_cast<int>(out.pixels.size() / 3));
}

TEST_F(MoxelCli, DensityAndSizesChangeTheCoverage) {
    auto whiteShare = [&](const std::string& flags) {
        const Picture out = Stipple("--seed 9 --white " + flags);
        return std::count(out.pixels.begin(), out.pixels.end(), 0xFF);
    };
    EXPECT_GT(whiteShare("--density 5"), whiteShare("--density 100"));
    EXPECT_GT(whiteShare("--density 30 --min-size 2 --max-size 3"),
              whiteShare("--density 30 --min-size 2 --max-size 30"));
}

TEST_F(MoxelCli, UsageErrorsAreOneLineNamingTheFlagWhatItTakesAndWhatItGot) {
    struct Case {
        const char* flags;
        const char* message;
    };
    for (const Case& c :
         {Case{"--seed 2147483648",
               "moxel: --seed: expected a whole number from 0 to 2147483647, got '2147483648'"},
          {"--min-size 20", "moxel: --min-size (20) must not be above --max-size (12)"},
          {"--jobs 0", "moxel: --jobs: expected a whole number from 1 to 1024, got '0'"},
          {"--quality 0", "moxel: --quality: expected a whole number from 1 to 100, got '0'"},
          {"--shape oval",
           "moxel: --shape: expected circle, triangle, square, pentagon, hexagon or star, got "
           "'oval'"},
          {"--format gif", "moxel: --format: expected png, jpg, webp, tiff or svg, got 'gif'"},
          {"--no-background", "moxel: --no-background is for SVG output"},
          {"--keep-alpha --format jpg",
           "moxel: --keep-alpha: JPEG output has no transparency to keep it in"},
          // Empty values, as unset variables give: never the default.
          {"--density=", "moxel: --density: expected a whole number from 1 to 100, got ''"},
          {"--settings ''", "moxel: --settings: expected a name, got ''"},
          {"''", "moxel: expected an input file name, got ''"},
          {"--background red", "moxel: --background: expected a colour as #rrggbb, got 'red'"},
          {"--max-size 40 --save-settings .",
           "moxel: --save-settings: the plug-in's dialog takes sizes up to 30, got --max-size 40"},
          {"--no-such-flag", "moxel: "}}) {
        const Result result =
            Moxel(Quoted(input) + " -o " + Quoted(dir.file("out.png")) + " " + c.flags);
        EXPECT_EQ(result.status, 2) << c.flags;
        EXPECT_TRUE(result.output.starts_with(c.message)) << c.flags << ": " << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_FALSE(fs::exists(dir.file("out.png"))) << c.flags;
    }
    // A repeated flag: the last one counts.
    EXPECT_EQ(Stipple("--seed 1 --seed 2", "a.png").pixels, Stipple("--seed 2", "b.png").pixels);
}

// Flags and settings files are held to the core's limits for the tool, in the same words.
TEST_F(MoxelCli, HoldsFlagsAndSettingsFilesToTheCoresLimits) {
    const SettingRange density = kToolLimits.density, size = kToolLimits.size;
    const SettingRange shape = kToolLimits.shape, white = kToolLimits.white;
    auto n = [](std::int64_t value) { return std::to_string(value); };
    auto range = [&](SettingRange r) { return n(r.lowest) + " to " + n(r.highest); };
    auto flag = [&](const std::string& name, SettingRange r, const std::string& got) {
        return "--" + name + ": expected a whole number from " + range(r) + ", got '" + got + "'";
    };
    const fs::path file = dir.file("moxel5.dat");
    auto outside = [&](const std::string& name, std::int64_t value, SettingRange r) {
        return file.string() + ": " + name + " is " + n(value) + ", outside its range " + range(r);
    };
    struct Case {
        std::string file;  // the settings file's fields; empty: no --settings
        std::string flags;
        std::string refusal;  // after "moxel: "; empty: accepted
    };
    const Case cases[] = {
        {"", "--density " + n(density.highest), ""},
        {"", "--density " + n(density.highest + 1),
         flag("density", density, n(density.highest + 1))},
        {"", "--density abc", flag("density", density, "abc")},
        {"", "--min-size " + n(size.lowest - 1), flag("min-size", size, n(size.lowest - 1))},
        {"", "--min-size " + n(size.highest) + " --max-size " + n(size.highest), ""},
        {"", "--max-size " + n(size.highest + 1), flag("max-size", size, n(size.highest + 1))},
        {n(white.highest) + " " + n(size.lowest) + " " + n(size.highest) + " " + n(density.lowest) +
             " " + n(shape.highest),
         "", ""},
        {"0 4 12 30 " + n(shape.highest + 1), "", outside("shape", shape.highest + 1, shape)},
        {"0 4 12 30 " + n(shape.highest + 1), "--shape circle", ""},
        {"0 4 12 " + n(density.lowest - 1) + " 0", "",
         outside("density", density.lowest - 1, density)},
        {"0 20 5 30 0", "", file.string() + ": max-size is 5, below min-size (20)"},
        {"0 20 5 30 0", "--max-size 30", ""},
        {"0 20 5 30 0", "--max-size 3", "--min-size (20) must not be above --max-size (3)"},
    };
    for (const Case& c : cases) {
        fs::remove(dir.file("out.png"));
        std::string flags = c.flags;
        if (!c.file.empty()) {
            WriteFile(file, c.file);
            flags += " --settings " + Quoted(file);
        }
        const Result result =
            Moxel(Quoted(input) + " -o " + Quoted(dir.file("out.png")) + " " + flags);
        const std::string what = c.file + " " + flags;
        EXPECT_EQ(result.status, c.refusal.empty() ? 0 : 2) << what << ": " << result.output;
        EXPECT_EQ(fs::exists(dir.file("out.png")), c.refusal.empty()) << what;
        if (!c.refusal.empty()) {
            EXPECT_EQ(result.output, "moxel: " + c.refusal + "\n") << what;
        }
    }
}

TEST_F(MoxelCli, SettingsTakeTheFileOrItsDirectoryAndWarnAboutWhatDoesNotRead) {
    TempDir settings;
    WriteFile(settings.file("moxel5.dat"), "1 5 20 50 5\n");
    const Picture viaDirectory = Stipple("--seed 1 --settings " + Quoted(settings.path()), "a.png");
    const Picture viaFile =
        Stipple("--seed 1 --settings " + Quoted(settings.file("moxel5.dat")), "b.png");
    EXPECT_EQ(viaDirectory.pixels, viaFile.pixels);

    struct Case {
        const char* content;  // nullptr: no file
        const char* warning;
        const char* sameAs;  // flags giving the same picture
    };
    for (const Case& c :
         {Case{nullptr, "No such file or directory; using the default settings", ""},
          {"1 5 x 50 5\n", "2 of its 5 settings read", "--white --min-size 5"},
          {"", "0 of its 5 settings read", ""}}) {
        TempDir other;
        if (c.content != nullptr) WriteFile(other.file("moxel5.dat"), c.content);
        const fs::path out = dir.file("c.png");
        const Result result = Moxel(Quoted(input) + " -o " + Quoted(out) + " --seed 3 --settings " +
                                    Quoted(other.path()));
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_NE(result.output.find("moxel: warning: " + other.file("moxel5.dat").string()),
                  std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find(c.warning), std::string::npos) << result.output;
        EXPECT_EQ(Load(out).pixels, Stipple(std::string("--seed 3 ") + c.sameAs, "d.png").pixels)
            << result.output;
    }
}

// Runs the plug-in's own run (settings loaded from the directory, as FilterProc does) on an image.
Picture PluginRun(Picture image, const std::string& settingsDirectory, std::uint32_t seed) {
    static Picture* current;
    current = &image;
    // The plug-in's rows are blue, green, red.
    auto swap = [](BYTE* to, const BYTE* from, int count) {
        for (int i = 0; i < count; ++i, to += 3, from += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    };
    static decltype(swap)* convert;
    convert = &swap;
    RowProc reader = [](int row, int first, int last, BYTE* buffer, int) {
        (*convert)(buffer, &current->pixels[(row * current->width + first) * 3], last - first + 1);
        return 1;
    };
    RowProc writer = [](int row, int first, int last, BYTE* buffer, int) {
        (*convert)(&current->pixels[(row * current->width + first) * 3], buffer, last - first + 1);
        return 1;
    };
    const ImageSize size{image.width, image.height};
    EXPECT_EQ(RunFilter(nullptr, &size, &writer, &reader, settingsDirectory.c_str(), seed), 1);
    return image;
}

TEST_F(MoxelCli, MatchesThePluginRunWithTheSameSeedSettingsAndImage) {
    TempDir settings;
    WriteFile(settings.file("moxel5.dat"), "0 3 17 45 4\n");
    const Picture out = Stipple("--seed 4242 --settings " + Quoted(settings.path()));
    EXPECT_EQ(out.pixels, PluginRun(TestImage(), settings.directory(), 4242).pixels);
    TempDir empty;  // no settings file: the plug-in's loader applies its defaults
    EXPECT_EQ(Stipple("--seed 11", "b.png").pixels,
              PluginRun(TestImage(), empty.directory(), 11).pixels);
}

TEST_F(MoxelCli, FlagsOverrideTheSettingsFileAndSaveInThePluginsFormat) {
    TempDir fromFile, saved;
    WriteFile(fromFile.file("moxel5.dat"), "1 5 20 50 5\n");
    const Result result =
        Moxel("--settings " + Quoted(fromFile.path()) + " --shape circle --density 60 " +
              "--save-settings " + Quoted(saved.path()));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(ReadFile(saved.file("moxel5.dat")), "1 5 20 60 0\n");
    EXPECT_EQ(ReadFile(fromFile.file("moxel5.dat")), "1 5 20 50 5\n")
        << "reading must not change it";
}

TEST_F(MoxelCli, VerboseShowsTheSettingsAndTheClockSeedThatReproducesTheResult) {
    const Result first =
        Moxel(Quoted(input) + " -o " + Quoted(dir.file("a.png")) +
              " --verbose --white --min-size 3 --max-size 9 --density 40 --shape star");
    ASSERT_EQ(first.status, 0) << first.output;
    const auto at = first.output.find("moxel: seed ");
    ASSERT_NE(at, std::string::npos) << first.output;
    const std::string seed = std::to_string(std::stoul(first.output.substr(at + 12)));
    EXPECT_TRUE(first.output.starts_with("moxel: seed " + seed +
                                         "; white 1, sizes 3 to 9, density 40, shape star; "))
        << first.output;
    Stipple("--seed " + seed + " --white --min-size 3 --max-size 9 --density 40 --shape star",
            "b.png");
    EXPECT_EQ(ReadFile(dir.file("a.png")), ReadFile(dir.file("b.png")));
}

std::string Blob(const vips::VImage& image, const char* name) {
    const void* data = nullptr;
    std::size_t size = 0;
    if (image.get_typeof(name) == 0 || vips_image_get_blob(image.get_image(), name, &data, &size))
        return {};
    return {static_cast<const char*>(data), size};
}

void SetBlob(vips::VImage& image, const char* name, const std::string& bytes) {
    vips_image_set_blob_copy(image.get_image(), name, bytes.data(), bytes.size());
}

// IPTC records as a JPEG keeps them: a Photoshop resource block in APP13.
std::string PhotoshopIptc(const std::string& caption, const std::string& byline) {
    std::string records;
    auto record = [&](char dataset, const std::string& value) {
        records += std::string{'\x1c', '\x02', dataset, '\0', static_cast<char>(value.size())};
        records += value;
    };
    record(120, caption);
    record(80, byline);
    if (records.size() % 2 != 0) records += '\0';
    const char length[] = {0, 0, static_cast<char>(records.size() >> 8),
                           static_cast<char>(records.size())};
    return std::string("Photoshop 3.0\0008BIM\x04\x04\0\0", 22) + std::string(length, 4) + records;
}

// What a camera writes: a JPEG stored on its side, in Adobe RGB as cameras mark it (EXIF colour
// space "uncalibrated", interoperability index R03, XMP naming the profile), with a thumbnail of
// the photo, IPTC caption and by-line. Every output format, to every kind of target, holds the
// same upright picture; its metadata, unless --strip, keeps what is still true and says sRGB.
TEST_F(MoxelCli, EachFormatToEveryKindOfTargetIsUprightWithMetadataThatTellsTheTruth) {
    vips::VImage stored = vips::VImage::new_from_file(input.c_str()).copy();
    stored.set(VIPS_META_ORIENTATION, 6);
    stored.set("exif-ifd0-Artist", "moxel test (moxel test, ASCII, 11 components, 11 bytes)");
    stored.set("exif-ifd2-ColorSpace", "65535");
    stored.set("exif-ifd4-InteroperabilityIndex", "R03");
    SetBlob(stored, "jpeg-thumbnail-data", ReadFile(input));  // any JPEG-sized blob will do
    SetBlob(stored, VIPS_META_IPTC_NAME, PhotoshopIptc("A caption", "A Photographer"));
    SetBlob(stored, VIPS_META_XMP_NAME,
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
            "rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
            "xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' tiff:Orientation='6' "
            "photoshop:ICCProfile='Adobe RGB (1998)'/></rdf:RDF></x:xmpmeta>");
    const fs::path camera = dir.file("camera.jpg");
    stored.write_to_file((camera.string() + "[Q=100]").c_str());
    ASSERT_NE(Blob(vips::VImage::new_from_file(camera.c_str()), "jpeg-thumbnail-data"), "");
    const Picture png = [&] {
        Moxel(Quoted(camera) + " -o " + Quoted(dir.file("reference.png")) + " --seed 4");
        return Load(dir.file("reference.png"));
    }();
    ASSERT_EQ(png.width, 48);
    ASSERT_EQ(png.height, 64);
    // Devices are made in the test's own directory where we may: a tool that replaced the
    // device node must not take the machine's /dev/null with it.
    const fs::path device = geteuid() == 0 ? dir.file("null") : fs::path("/dev/null");
    if (geteuid() == 0) {
        ASSERT_EQ(Sh("mknod " + Quoted(device) + " c 1 3").status, 0);
    }
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    // /dev/stdout and /dev/fd as they are made, but ours: as root, a tool that replaced them
    // would break every other program on the machine.
    fs::create_symlink("/proc/self/fd/1", dir.file("stdout"));
    fs::create_symlink("/proc/self/fd", dir.file("fd"));

    for (const std::string format : {"png", "jpg", "webp", "tif", "svg"}) {
        const bool lossy = format == "jpg" || format == "webp";
        for (const std::string strip : {"", " --strip"}) {
            const std::string flags = " --seed 4 --quality 100 --format " + format + strip;
            const fs::path file = dir.file("file." + format);
            const Result toFile = Moxel(Quoted(camera) + " -o " + Quoted(file) + flags);
            ASSERT_EQ(toFile.status, 0) << toFile.output;
            const std::string bytes = ReadFile(file);

            if (strip.empty()) {
                // The same bytes whatever the output is: written straight through where it is
                // not a regular file, put in place where it is.
                WriteFile(dir.file("target"), "old");
                fs::permissions(dir.file("target"), fs::perms(0640));
                fs::create_symlink("target", dir.file("link"));
                const std::string run = MOXEL_BINARY + (" " + Quoted(camera)) + flags + " -o ";
                const std::string got = Quoted(dir.file("got"));
                for (const std::string& command :
                     {run + "- > " + got, run + Quoted(dir.file("stdout")) + " > " + got,
                      run + Quoted(dir.file("fd") / "3") + " 3> " + got,
                      "timeout 20 cat " + Quoted(dir.file("fifo")) + " > " + got + " & " + run +
                          Quoted(dir.file("fifo")) + "; s=$?; wait; exit $s",
                      run + Quoted(dir.file("link")) + " && cp " + Quoted(dir.file("target")) +
                          " " + got}) {
                    fs::remove(dir.file("got"));
                    EXPECT_EQ(Sh(command).status, 0) << command;
                    EXPECT_TRUE(ReadFile(dir.file("got")) == bytes) << command;
                }
                EXPECT_TRUE(fs::is_symlink(dir.file("link")));
                EXPECT_EQ(fs::status(dir.file("target")).permissions(), fs::perms(0640));
                fs::remove(dir.file("link"));
                EXPECT_EQ(Sh(run + Quoted(device)).status, 0) << format;
                EXPECT_TRUE(fs::is_character_file(device)) << format;
            }
            if (format == "svg") continue;

            const Picture out = Load(file);
            ASSERT_EQ(out.pixels.size(), png.pixels.size()) << format;
            // WebP blurs the stipples' edges, even at quality 100, by about 12 on average; a
            // swapped or shifted channel would be off by far more.
            long difference = 0;
            for (std::size_t i = 0; i < out.pixels.size(); ++i)
                difference += std::abs(out.pixels[i] - png.pixels[i]);
            EXPECT_LE(difference, lossy ? long(out.pixels.size()) * 16 : 0) << format;

            const vips::VImage header = vips::VImage::new_from_file(file.c_str());
            const std::string what = format + strip;
            EXPECT_TRUE(header.get_typeof(VIPS_META_ORIENTATION) == 0 ||
                        header.get_int(VIPS_META_ORIENTATION) == 1)
                << what;
            EXPECT_EQ(Blob(header, "jpeg-thumbnail-data"), "") << what;
            EXPECT_EQ(header.get_typeof(VIPS_META_ICC_NAME), 0u) << what;  // untagged sRGB
            EXPECT_EQ(header.get_typeof("exif-ifd4-InteroperabilityIndex"), 0u) << what;
            if (header.get_typeof("exif-ifd2-ColorSpace") != 0) {
                EXPECT_TRUE(
                    std::string_view(header.get_string("exif-ifd2-ColorSpace")).starts_with("1 "))
                    << what;
            }
            const std::string xmp = Blob(header, VIPS_META_XMP_NAME);
            EXPECT_EQ(xmp.find("Adobe RGB"), std::string::npos) << what;
            EXPECT_EQ(xmp.find("Orientation='6'"), std::string::npos) << what;
            // The caption and by-line as IPTC records (JPEG, TIFF) or IPTC's XMP (PNG, WebP).
            const std::string all = bytes + xmp;
            for (const char* text : {"A caption", "A Photographer"}) {
                EXPECT_EQ(all.find(text) != std::string::npos, strip.empty()) << what << text;
            }
            if (format != "tif") {  // libvips 8.14 writes no EXIF into TIFF
                EXPECT_EQ(header.get_typeof("exif-ifd0-Artist") != 0, strip.empty()) << what;
            }
        }
    }
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Mean absolute difference per channel, `b` read `dx` pixels to the right (clamped).
double MeanDifference(const Picture& a, const Picture& b, int dx = 0) {
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const int bx = std::min(x + dx, a.width - 1);
            for (int c = 0; c < 3; ++c)
                sum += std::abs(a.pixels[(y * a.width + x) * 3 + c] -
                                b.pixels[(y * a.width + bx) * 3 + c]);
        }
    }
    return sum / a.pixels.size();
}

// The shapes as SVG: one element per shape of the run, over the picture, white or nothing, and,
// rendered 1:1 by librsvg, nearer the PNG of the same seed than that PNG is to itself moved by a
// pixel.
TEST_F(MoxelCli, SvgHoldsTheRunsShapesOverItsBackground) {
    Save(TestImage(160, 120), input);
    struct Case {
        std::string flags;
        const char* element;
        const char* background;  // nullptr: neither <image> nor <rect>
    };
    for (const Case& c : {Case{"--shape circle", "<circle", "<image"},
                          {"--shape star --white", "<path", "<rect"},
                          {"--shape square --no-background", "<path", nullptr}}) {
        const std::string flags = " --seed 12 --density 40 " + c.flags;
        const Result file = Moxel(Quoted(input) + " -o " + Quoted(dir.file("out.svg")) + flags);
        const Result piped = Moxel(Quoted(input) + " -o - --format svg" + flags + " > " +
                                   Quoted(dir.file("piped.svg")));
        ASSERT_EQ(file.status + piped.status, 0) << file.output << piped.output;
        const std::string svg = ReadFile(dir.file("out.svg"));
        EXPECT_EQ(ReadFile(dir.file("piped.svg")), svg) << c.flags;
        EXPECT_EQ(Count(svg, c.element), std::size_t(160 * 120 * 40 / 100 / 4)) << c.flags;
        const std::size_t backgrounds = Count(svg, "<image") + Count(svg, "<rect");
        EXPECT_EQ(backgrounds, c.background != nullptr ? 1u : 0u) << c.flags;
        if (c.background == nullptr) continue;
        EXPECT_EQ(Count(svg, c.background), 1u) << c.flags;

        const std::string render = "rsvg-convert " + Quoted(dir.file("out.svg")) + " -o " +
                                   Quoted(dir.file("rendered.png"));
        ASSERT_EQ(std::system(render.c_str()), 0) << render;
        const Picture png = Stipple(flags);
        const Picture rendered = Load(dir.file("rendered.png"));
        ASSERT_EQ(rendered.pixels.size(), png.pixels.size()) << c.flags;
        EXPECT_LT(MeanDifference(rendered, png), MeanDifference(png, png, 1)) << c.flags;
    }
}

TEST_F(MoxelCli, PipesInAndOut) {
    Stipple("--seed 6", "file.png");
    const Result piped = Moxel("- -o - --format png --seed 6 < " + Quoted(input) + " > " +
                               Quoted(dir.file("piped.png")));
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(ReadFile(dir.file("piped.png")), ReadFile(dir.file("file.png")));

    // A pipe, which cannot seek, into a file output.
    const std::string command = "cat " + Quoted(input) + " | " + MOXEL_BINARY + " - -o " +
                                Quoted(dir.file("catted.png")) + " --seed 6";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(dir.file("catted.png")), ReadFile(dir.file("file.png")));

    const Result noFormat = Moxel(Quoted(input) + " -o -");
    EXPECT_EQ(noFormat.status, 2);
    EXPECT_NE(noFormat.output.find("--format"), std::string::npos) << noFormat.output;

    const std::string full = std::string(MOXEL_BINARY) + " " + Quoted(input) +
                             " -o - --format png >/dev/full 2>" + Quoted(dir.file("errors"));
    EXPECT_EQ(WEXITSTATUS(std::system(full.c_str())), 1);
    EXPECT_EQ(ReadFile(dir.file("errors")), "moxel: standard output: No space left on device\n");
}

std::string Truncated(const fs::path& path, double share) {
    const std::string bytes = ReadFile(path);
    return bytes.substr(0, static_cast<std::size_t>(bytes.size() * share));
}

// A PNG claiming 60000 x 60000 pixels, with valid CRCs, and no pixel data.
std::string HugePngHeader() {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    const unsigned char ihdr[] = {0,    0, 0, 13,   'I',  'H', 'D', 'R', 0, 0, 0xEA,
                                  0x60, 0, 0, 0xEA, 0x60, 8,   2,   0,   0, 0};
    png.append(reinterpret_cast<const char*>(ihdr), sizeof ihdr);
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 4; i < sizeof ihdr; ++i) {
        crc ^= ihdr[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(crc >> shift);
    // An empty IDAT and the end: the header reads as complete, the pixels would come next.
    png.append("\0\0\0\0IDAT\x35\xaf\x06\x1e\0\0\0\0IEND\xae\x42\x60\x82", 24);
    return png;
}

// As an unprivileged user where the tests run as root (root may write anything), or nothing.
std::optional<std::string> Unprivileged() {
    if (geteuid() != 0) return "";
    const std::string prefix = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    if (Sh(prefix + "true").status != 0) return std::nullopt;
    return prefix;
}

// With standard output on a terminal: util-linux's script gives the command one.
std::string OnTerminal(const std::string& command) {
    return "script -qec \"" + command + "\" /dev/null";
}

TEST_F(MoxelCli, FailuresAreOneLineNamingTheFileTheyConcernAndLeaveNothing) {
    Save(TestImage(), dir.file("good.jpg"));
    Save(TestImage(), dir.file("good.tif"));
    WriteFile(dir.file("empty.png"), "");
    WriteFile(dir.file("signature.png"), "\x89PN");
    WriteFile(dir.file("cut.png"), Truncated(input, 0.6));
    WriteFile(dir.file("cut.jpg"), Truncated(dir.file("good.jpg"), 0.5));
    WriteFile(dir.file("cut.tif"), Truncated(dir.file("good.tif"), 0.5));
    WriteFile(dir.file("text.png"), "this is not an image\n");
    WriteFile(dir.file("huge.png"), HugePngHeader());
    fs::create_directory(dir.file("existing"));
    WriteFile(dir.file("protected.png"), "theirs");
    fs::permissions(dir.file("protected.png"), fs::perms(0444));
    fs::permissions(dir.path(), fs::perms::all);  // so that only the file's own bits stop us
    const std::optional<std::string> unprivileged = Unprivileged();
    const std::string name256(252, 'n');

    auto in = [&](const std::string& name) { return dir.file(name).string(); };
    struct Case {
        std::string command;  // after the tool's name, or the whole command with {} for the tool
        std::string message;  // after "moxel: "
        int status = 1;
    };
    const Case cases[] = {
        {Quoted(in("missing.png")) + " -o out.png",
         in("missing.png") + ": No such file or directory"},
        {Quoted(in("empty.png")) + " -o out.png", in("empty.png") + ": empty file"},
        {Quoted(in("signature.png")) + " -o out.png",
         in("signature.png") + ": cut short after 3 bytes, the start of a PNG file"},
        {Quoted(in("cut.png")) + " -o out.png", in("cut.png") + ": "},
        {Quoted(in("cut.jpg")) + " -o out.png", in("cut.jpg") + ": "},
        {Quoted(in("cut.tif")) + " -o out.png", in("cut.tif") + ": cut short or damaged TIFF file"},
        {Quoted(in("text.png")) + " -o out.png",
         in("text.png") + ": not an image this tool reads (PNG, JPEG, WebP, TIFF, GIF or HEIF); "
                          "it begins with text \"this is not an i...\""},
        {"/dev/zero -o out.png",
         "/dev/zero: not an image this tool reads (PNG, JPEG, WebP, TIFF, "
         "GIF or HEIF); it begins with bytes 00 00 00 00 00 00 00 00"},
        {"cat /dev/zero | {} - -o out.png", "standard input: not an image this tool reads"},
        {"(printf 'II*\\0'; cat /dev/zero) | {} - -o out.png --max-megapixels 1",
         "standard input: goes on past 71 MB"},
        {Quoted(in("huge.png")) + " -o out.png",
         in("huge.png") + ": image too large (60000 x 60000 pixels"},
        {Quoted(input) + " -o out.gif", "out.gif: unknown extension", 2},
        {Quoted(input) + " -o nowhere/out.png", "nowhere/out.png: No such file or directory"},
        {Quoted(input) + " -o " + Quoted(input),
         input.string() + ": refusing to overwrite the input"},
        // The output is refused before the input is read, bad as the input is.
        {Quoted(in("text.png")) + " -o existing --format png", "existing: Is a directory"},
        {Quoted(input) + " -o " + name256 + ".png", name256 + ".png: File name too long"},
        {Quoted(in("text.png")) + " -o - --format png",
         "standard output: not writing a binary image to a terminal"},
        {Quoted(in("text.png")) + " -o protected.png", "protected.png: Permission denied"},
    };
    for (const Case& c : cases) {
        std::string command = "cd " + Quoted(dir.path()) + " && ";
        const bool terminal = c.message.find("terminal") != std::string::npos;
        if (c.message.starts_with("protected")) {
            if (!unprivileged) {
                std::printf("skipped: no unprivileged user to refuse a protected file to\n");
                continue;
            }
            command += *unprivileged;
        }
        // Bounded: a tool that reads endless input for ever fails here rather than hangs.
        const std::string moxel = std::string("timeout 60 ") + MOXEL_BINARY;
        const std::size_t tool = c.command.find("{}");
        const std::string run = tool == std::string::npos ? moxel + " " + c.command
                                                          : c.command.substr(0, tool) + moxel +
                                                                c.command.substr(tool + 2);
        command += terminal ? OnTerminal(run) : run;
        const std::set<std::string> before = Files();
        const std::string inputBytes = ReadFile(input);
        const Result result = Sh(command);
        EXPECT_EQ(result.status, c.status) << command << ": " << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_TRUE(result.output.starts_with("moxel: " + c.message)) << result.output;
        EXPECT_EQ(Files(), before) << c.command << ": left a file behind";
        EXPECT_EQ(ReadFile(input), inputBytes);
    }
    EXPECT_EQ(ReadFile(dir.file("protected.png")), "theirs");

    // What it still writes: a name as long as the file system allows (the temporary beside it
    // takes a short one); text, or binary with --force, to a terminal.
    const std::string name255(251, 'n');
    for (const std::string& command :
         {std::string(MOXEL_BINARY) + " " + Quoted(input) + " -o " + name255 + ".png",
          OnTerminal(MOXEL_BINARY + (" " + Quoted(input)) + " -o - --format svg"),
          OnTerminal(MOXEL_BINARY + (" " + Quoted(input)) + " -o - --format png --force")}) {
        EXPECT_EQ(Sh("cd " + Quoted(dir.path()) + " && " + command).status, 0) << command;
    }
    EXPECT_EQ(Load(dir.file(name255 + ".png")).width, 64);
}

// A real grey ICC profile (gamma 2.2), as grey JPEGs carry.
std::string GreyProfile() {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(gamma);
    return bytes;
}

// Pictures stored otherwise than as 8-bit sRGB are read as their 8-bit twins are, and what is
// read differently from how it is stored is said in one line.
TEST_F(MoxelCli, ReadsWideSamplesStrayProfilesAndFramesAsAViewerShowsThem) {
    using vips::VImage;
    const VImage rgb = VImage::new_from_file(input.c_str());
    const VImage grey = rgb[1];
    rgb.write_to_file(dir.file("rgb.png").c_str());
    grey.write_to_file(dir.file("grey.png").c_str());
    // Floating point from 0 to 1, as TIFF keeps it: libvips takes that for linear light.
    (rgb.cast(VIPS_FORMAT_FLOAT) / 255).write_to_file(dir.file("rgb-float.tif").c_str());
    (grey.cast(VIPS_FORMAT_FLOAT) / 255).write_to_file(dir.file("grey-float.tif").c_str());
    VImage tagged = rgb.copy();
    SetBlob(tagged, VIPS_META_ICC_NAME, GreyProfile());
    tagged.write_to_file(dir.file("grey-profile.jpg").c_str());
    VImage frames = rgb.join(rgb.invert(), VIPS_DIRECTION_VERTICAL).copy();
    frames.set(VIPS_META_PAGE_HEIGHT, rgb.height());
    frames.write_to_file(dir.file("two.gif").c_str());
    frames.write_to_file(dir.file("two.tif").c_str());

    struct Case {
        const char* file;
        const char* twin;     // an 8-bit sRGB file giving the same picture, or null
        const char* warning;  // after "moxel: warning: <file>: ", or null
    };
    for (const Case& c : {Case{"rgb-float.tif", "rgb.png", nullptr},
                          {"grey-float.tif", "grey.png", nullptr},
                          {"grey-profile.jpg", nullptr,
                           "its grey colour profile does not fit its RGB pixels; the profile is "
                           "ignored"},
                          {"two.gif", "rgb.png", "2 frames; only the first is filtered"},
                          {"two.tif", "rgb.png", "2 pages; only the first is filtered"}}) {
        const Result result =
            Moxel(Quoted(dir.file(c.file)) + " -o " + Quoted(dir.file("out.png")) + " --seed 8");
        ASSERT_EQ(result.status, 0) << c.file << ": " << result.output;
        EXPECT_EQ(result.output,
                  c.warning == nullptr
                      ? std::string()
                      : "moxel: warning: " + dir.file(c.file).string() + ": " + c.warning + "\n");
        if (c.twin == nullptr) continue;
        const Result twin =
            Moxel(Quoted(dir.file(c.twin)) + " -o " + Quoted(dir.file("twin.png")) + " --seed 8");
        ASSERT_EQ(twin.status, 0) << twin.output;
        // GIF has 256 colours: its first frame is the picture only nearly.
        const Picture out = Load(dir.file("out.png")), expected = Load(dir.file("twin.png"));
        EXPECT_LT(MeanDifference(out, expected), std::string(c.file) == "two.gif" ? 4 : 0.001)
            << c.file;
    }
}

// --keep-alpha: the input's alpha as it was, the colours under it stippled as a picture without
// alpha would be.
TEST_F(MoxelCli, KeepAlphaKeepsTheInputsTransparency) {
    using vips::VImage;
    const VImage rgb = VImage::new_from_file(input.c_str());
    const VImage alpha = (VImage::xyz(rgb.width(), rgb.height())[0] * 4).cast(VIPS_FORMAT_UCHAR);
    rgb.bandjoin(alpha).write_to_file(dir.file("rgba.png").c_str());
    Stipple("--seed 3", "opaque.png");
    const VImage opaque = VImage::new_from_file(dir.file("opaque.png").c_str());
    for (const std::string format : {"png", "webp", "tif"}) {
        const fs::path out = dir.file("out." + format);
        const Result result = Moxel(Quoted(dir.file("rgba.png")) + " -o " + Quoted(out) +
                                    " --seed 3 --keep-alpha --quality 100");
        ASSERT_EQ(result.status, 0) << result.output;
        const VImage kept = VImage::new_from_file(out.c_str());
        ASSERT_EQ(kept.bands(), 4) << format;
        EXPECT_EQ((kept[3] - alpha).abs().max(), 0) << format;
        // WebP keeps alpha exactly, and colours nearly (about 12 on average, as above).
        const VImage colours = kept.extract_band(0, VImage::option()->set("n", 3));
        EXPECT_LE((colours - opaque).abs().avg(), format == "webp" ? 16 : 0) << format;
    }
}

// Without --seed each file of a batch draws its own (-v says which), so pictures of a size do not
// share a layout; --seed gives them all the same.
TEST_F(MoxelCli, BatchDrawsASeedForEachFileUnlessGivenOne) {
    std::string inputs;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        fs::copy_file(input, dir.file(name));
        inputs += Quoted(dir.file(name)) + " ";
    }
    for (const char* seed : {"", "--seed 5"}) {
        TempDir out;
        const Result result = Moxel(inputs + "--out-dir " + Quoted(out.path()) + " -v " + seed);
        ASSERT_EQ(result.status, 0) << result.output;
        const std::set<std::string> pictures{
            ReadFile(out.file("a.png")), ReadFile(out.file("b.png")), ReadFile(out.file("c.png"))};
        EXPECT_EQ(pictures.size(), *seed == '\0' ? 3u : 1u) << result.output;
        if (*seed != '\0') continue;
        const std::string line = "moxel: " + dir.file("b.png").string() + ": seed ";
        const std::size_t at = result.output.find(line);
        ASSERT_NE(at, std::string::npos) << result.output;
        const std::string own = std::to_string(std::stoul(result.output.substr(at + line.size())));
        Stipple("--seed " + own, "again.png");
        EXPECT_EQ(ReadFile(dir.file("again.png")), ReadFile(out.file("b.png")));
    }
}

TEST_F(MoxelCli, InterruptsRemoveTheTemporaryOutput) {
    // Large enough that the run is still going when the signal comes.
    const fs::path big = dir.file("big.png");
    vips::VImage::gaussnoise(3000, 2000)
        .bandjoin({vips::VImage::gaussnoise(3000, 2000), vips::VImage::gaussnoise(3000, 2000)})
        .cast(VIPS_FORMAT_UCHAR)
        .write_to_file(big.c_str());
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        if (child == 0) {
            // As from a terminal: a background job from a script starts with SIGINT ignored,
            // which the tool rightly leaves so.
            for (const int handled : {SIGINT, SIGTERM, SIGHUP}) std::signal(handled, SIG_DFL);
            execl(MOXEL_BINARY, MOXEL_BINARY, big.c_str(), "-o", dir.file("out.png").c_str(),
                  "--quiet", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Waits for the temporary output to appear; the run goes on for a while after that.
        bool started = false;
        int status = 0;
        while (!started && waitpid(child, &status, WNOHANG) == 0) {
            for (const std::string& name : Files()) started |= name.ends_with(".tmp");
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(started) << "finished before it could be interrupted";
        kill(child, signal);
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(Files(), (std::set<std::string>{"big.png", "in.png"})) << signal;
    }
}

TEST_F(MoxelCli, BatchCarriesOnPastABrokenFileAndSaysSo) {
    TempDir out;
    fs::create_directory(dir.file("in"));
    std::string inputs;
    for (const char* name : {"a.png", "b.jpg", "c.png"}) {
        Save(TestImage(40 + name[0] % 7, 30), dir.file("in") / name);
        inputs += Quoted(dir.file("in") / name) + " ";
    }
    WriteFile(dir.file("in") / "broken.png", Truncated(input, 0.5));
    inputs += Quoted(dir.file("in") / "broken.png");

    const Result result = Moxel(inputs + " --out-dir " + Quoted(out.path()) + " --jobs 3 --seed 2");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("broken.png"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("3 of 4 images done, 1 failed"), std::string::npos)
        << result.output;
    for (const char* name : {"a.png", "b.jpg", "c.png"})
        EXPECT_TRUE(fs::exists(out.file(name))) << name;
    EXPECT_FALSE(fs::exists(out.file("broken.png")));

    // Parallel jobs give exactly what one job gives; --format applies to each, and a missing
    // output directory is made.
    const fs::path serial = out.file("serial");
    const Result png =
        Moxel(inputs + " --out-dir " + Quoted(serial) + " --jobs 1 --seed 2 " + "--format png");
    EXPECT_EQ(png.status, 1) << png.output;
    EXPECT_EQ(ReadFile(out.file("a.png")), ReadFile(serial / "a.png"));
    EXPECT_EQ(Load(serial / "b.png").width, 40 + 'b' % 7);
}

TEST(ProgressLine, FitsTheTerminalShorteningTheName) {
    const std::string longName(300, 'n');
    for (const int columns : {20, 40, 80, 200}) {
        for (const std::string& name : {std::string("photo.jpg"), longName + ".jpg"}) {
            const std::string text = ProgressText(name, 45, columns);
            EXPECT_LE(static_cast<int>(text.size()), columns - 1) << columns << " " << text;
            EXPECT_TRUE(text.ends_with("] 45%")) << columns << " " << text;
            if (columns >= 40) {
                EXPECT_NE(text.find(".jpg ["), std::string::npos) << text;
            }
        }
    }
}

}  // namespace
