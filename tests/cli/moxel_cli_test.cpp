// The moxel tool end to end: the built binary run on files made here.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "common/temp_dir.h"
#include "image_io.h"
#include "render/filter_run.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string output;  // stdout and stderr together
};

Result Moxel(const std::string& arguments) {
    const std::string command = std::string(MOXEL_BINARY) + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    Result result{-1, ""};
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.output.append(chunk, n);
    const int wait = pclose(pipe);
    result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return result;
}

// A small image with gradients and edges, so every shape has something to take colours from.
Image TestImage(int width = 64, int height = 48) {
    Image image{width, height,
                std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>((x / 8 + y / 8) % 2 ? 180 : 30);
            p[2] = static_cast<std::uint8_t>(y * 5);
        }
    }
    return image;
}

class MoxelCli : public ::testing::Test {
protected:
    void SetUp() override {
        input = dir.file("in.png");
        SaveImage(TestImage(), input, ImageFormat::Png);
    }

    std::string Quoted(const fs::path& path) const { return "'" + path.string() + "'"; }

    Image Stipple(const std::string& flags, const std::string& name = "out.png") {
        const fs::path out = dir.file(name);
        const Result result = Moxel(Quoted(input) + " -o " + Quoted(out) + " " + flags);
        EXPECT_EQ(result.status, 0) << result.output;
        return LoadImage(out, 1u << 30);
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

TEST_F(MoxelCli, SameSeedSameBytesOtherSeedOtherPicture) {
    Stipple("--seed 7", "a.png");
    Stipple("--seed 7", "b.png");
    Stipple("--seed 8", "c.png");
    EXPECT_EQ(ReadFile(dir.file("a.png")), ReadFile(dir.file("b.png")));
    EXPECT_NE(LoadImage(dir.file("a.png"), 1u << 30).pixels,
              LoadImage(dir.file("c.png"), 1u << 30).pixels);
}

TEST_F(MoxelCli, EveryShapeDrawsItsOwnPicture) {
    std::set<std::vector<std::uint8_t>> pictures;
    for (const char* shape : {"circle", "triangle", "square", "pentagon", "hexagon", "star"}) {
        const Image out = Stipple(std::string("--seed 3 --shape ") + shape);
        EXPECT_NE(out.pixels, TestImage().pixels) << shape;
        pictures.insert(out.pixels);
    }
    EXPECT_EQ(pictures.size(), 6u);
}

TEST_F(MoxelCli, WhiteLeavesOnlyWhiteAndSourceColours) {
    std::set<std::uint32_t> palette{0xFFFFFF};
    const Image source = TestImage();
    auto colour = [](const Image& image, std::size_t i) {
        return image.pixels[i] | image.pixels[i + 1] << 8 | image.pixels[i + 2] << 16;
    };
    for (std::size_t i = 0; i < source.pixels.size(); i += 3) palette.insert(colour(source, i));
    const Image out = Stipple("--seed 5 --white");
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
        const Image out = Stipple("--seed 9 --white " + flags);
        return std::count(out.pixels.begin(), out.pixels.end(), 0xFF);
    };
    EXPECT_GT(whiteShare("--density 5"), whiteShare("--density 100"));
    EXPECT_GT(whiteShare("--density 30 --min-size 2 --max-size 3"),
              whiteShare("--density 30 --min-size 2 --max-size 30"));
}

TEST_F(MoxelCli, RejectsValuesOutsideTheDialogsRangesNamingTheFlag) {
    struct Case {
        const char* flags;
        const char* mentions;
    };
    for (const Case& c : {Case{"--shape 9", "--shape"},
                          {"--shape oval", "--shape"},
                          {"--density 0", "--density"},
                          {"--density 101", "--density"},
                          {"--min-size 1", "--min-size"},
                          {"--min-size 31", "--min-size"},
                          {"--max-size 31", "--max-size"},
                          {"--max-size 1", "--max-size"},
                          {"--min-size 20 --max-size 10", "--min-size"},
                          {"--min-size 20", "--max-size (12)"},
                          {"--seed -1", "--seed"},
                          {"--jobs 0", "--jobs"}}) {
        const Result result =
            Moxel(Quoted(input) + " -o " + Quoted(dir.file("out.png")) + " " + c.flags);
        EXPECT_EQ(result.status, 2) << c.flags;
        EXPECT_NE(result.output.find(c.mentions), std::string::npos)
            << c.flags << ": " << result.output;
        EXPECT_FALSE(fs::exists(dir.file("out.png"))) << c.flags;
    }
}

// Runs the plug-in's own run (settings loaded from the directory, as FilterProc does) on an image.
Image PluginRun(Image image, const std::string& settingsDirectory, std::uint32_t seed) {
    static Image* current;
    current = &image;
    RowProc reader = [](int row, int first, int last, BYTE* buffer, int) {
        std::memcpy(buffer, &current->pixels[(row * current->width + first) * 3],
                    (last - first + 1) * 3);
        return 1;
    };
    RowProc writer = [](int row, int first, int last, BYTE* buffer, int) {
        std::memcpy(&current->pixels[(row * current->width + first) * 3], buffer,
                    (last - first + 1) * 3);
        return 1;
    };
    const ImageSize size{image.width, image.height};
    EXPECT_EQ(RunFilter(nullptr, &size, &writer, &reader, settingsDirectory.c_str(), seed), 1);
    return image;
}

TEST_F(MoxelCli, MatchesThePluginRunWithTheSameSeedSettingsAndImage) {
    TempDir settings;
    WriteFile(settings.file("moxel5.dat"), "0 3 17 45 4\n");
    const Image out = Stipple("--seed 4242 --settings " + Quoted(settings.path()));
    EXPECT_EQ(out.pixels, PluginRun(TestImage(), settings.directory(), 4242).pixels);
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

    const Image viaFile = Stipple(
        "--seed 1 --settings " + Quoted(fromFile.path()) + " --shape circle --density 60", "a.png");
    const Image viaFlags =
        Stipple("--seed 1 --white --min-size 5 --max-size 20 --density 60", "b.png");
    EXPECT_EQ(viaFile.pixels, viaFlags.pixels);
}

TEST_F(MoxelCli, DefaultsAreThePluginsDefaults) {
    TempDir empty;  // no settings file: the plug-in's loader applies its defaults
    const Image plain = Stipple("--seed 11", "a.png");
    const Image viaEmpty = Stipple("--seed 11 --settings " + Quoted(empty.path()), "b.png");
    EXPECT_EQ(plain.pixels, viaEmpty.pixels);
    EXPECT_EQ(plain.pixels, PluginRun(TestImage(), empty.directory(), 11).pixels);
}

TEST_F(MoxelCli, VerboseShowsTheClockSeedThatReproducesTheResult) {
    const Result first = Moxel(Quoted(input) + " -o " + Quoted(dir.file("a.png")) + " --verbose");
    ASSERT_EQ(first.status, 0) << first.output;
    const auto at = first.output.find("seed ");
    ASSERT_NE(at, std::string::npos) << first.output;
    const std::string seed = std::to_string(std::stoul(first.output.substr(at + 5)));
    Stipple("--seed " + seed, "b.png");
    EXPECT_EQ(ReadFile(dir.file("a.png")), ReadFile(dir.file("b.png")));
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

TEST_F(MoxelCli, BadInputsFailWithOneLineNamingTheFileAndLeaveNothing) {
    SaveImage(TestImage(), dir.file("good.jpg"), ImageFormat::Jpeg);
    WriteFile(dir.file("empty.png"), "");
    WriteFile(dir.file("cut.png"), Truncated(input, 0.6));
    WriteFile(dir.file("cut.jpg"), Truncated(dir.file("good.jpg"), 0.5));
    std::string corrupt = ReadFile(input);
    for (std::size_t i = corrupt.size() / 3; i < corrupt.size() - 20; i += 7) corrupt[i] ^= 0x5A;
    WriteFile(dir.file("corrupt.png"), corrupt);
    WriteFile(dir.file("text.png"), "this is not an image\n");
    WriteFile(dir.file("huge.png"), HugePngHeader());
    fs::copy_file(input, dir.file("image.bmp"));

    struct Case {
        const char* file;
        const char* output;
    };
    for (const Case& c : {Case{"missing.png", "out.png"},
                          {"empty.png", "out.png"},
                          {"cut.png", "out.png"},
                          {"cut.jpg", "out.png"},
                          {"corrupt.png", "out.png"},
                          {"text.png", "out.png"},
                          {"huge.png", "out.png"},
                          {"in.png", "out.gif"}}) {
        const std::set<std::string> before = Files();
        const Result result = Moxel(Quoted(dir.file(c.file)) + " -o " + Quoted(dir.file(c.output)));
        EXPECT_NE(result.status, 0) << c.file;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_NE(result.output.find(std::string(c.file) == "in.png" ? c.output : c.file),
                  std::string::npos)
            << result.output;
        EXPECT_EQ(Files(), before) << c.file << ": left a file behind";
    }
    const Result huge = Moxel(Quoted(dir.file("huge.png")) + " -o " + Quoted(dir.file("out.png")));
    EXPECT_NE(huge.output.find("too large"), std::string::npos) << huge.output;
}

TEST_F(MoxelCli, RefusesToOverwriteItsInput) {
    const std::string before = ReadFile(input);
    const Result result = Moxel(Quoted(input) + " -o " + Quoted(input));
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.output.find("overwrite"), std::string::npos) << result.output;
    EXPECT_EQ(ReadFile(input), before);

    const Result batch = Moxel(Quoted(input) + " --out-dir " + Quoted(dir.path()));
    EXPECT_NE(batch.status, 0);
    EXPECT_EQ(ReadFile(input), before);
}

TEST_F(MoxelCli, OutputDirectoryMustExistAndBeWritable) {
    const Result missing = Moxel(Quoted(input) + " --out-dir " + Quoted(dir.file("nowhere")));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("no such directory"), std::string::npos) << missing.output;

    const Result missingParent =
        Moxel(Quoted(input) + " -o " + Quoted(dir.file("nowhere") / "out.png"));
    EXPECT_NE(missingParent.status, 0);
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));

    if (geteuid() == 0) GTEST_SKIP() << "root writes through permission bits";
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const Result locked = Moxel(Quoted(input) + " --out-dir " + Quoted(dir.file("locked")));
    EXPECT_NE(locked.status, 0);
    EXPECT_NE(locked.output.find("not writable"), std::string::npos) << locked.output;
    fs::permissions(dir.file("locked"), fs::perms::owner_all);
}

TEST_F(MoxelCli, BatchCarriesOnPastABrokenFileAndSaysSo) {
    TempDir out;
    fs::create_directory(dir.file("in"));
    std::string inputs;
    for (const char* name : {"a.png", "b.jpg", "c.png"}) {
        SaveImage(TestImage(40 + name[0] % 7, 30), dir.file("in") / name,
                  name[2] == 'j' ? ImageFormat::Jpeg : ImageFormat::Png);
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

    // Parallel jobs give exactly what one job gives.
    TempDir serial;
    Moxel(inputs + " --out-dir " + Quoted(serial.path()) + " --jobs 1 --seed 2");
    for (const char* name : {"a.png", "b.jpg", "c.png"}) {
        EXPECT_EQ(ReadFile(out.file(name)), ReadFile(serial.file(name))) << name;
    }
}

TEST_F(MoxelCli, AllGoodBatchSucceeds) {
    TempDir out;
    SaveImage(TestImage(), dir.file("second.png"), ImageFormat::Png);
    const Result result = Moxel(Quoted(input) + " " + Quoted(dir.file("second.png")) +
                                " --out-dir " + Quoted(out.path()));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("2 of 2 images done"), std::string::npos) << result.output;
    const Result quiet = Moxel(Quoted(input) + " --out-dir " + Quoted(out.path()) + " --quiet");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.output, "");
}

}  // namespace
