#include "settings/settings.h"

#include "settings/contract.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>

#include "common/temp_dir.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

void PrintTo(const StippleSettings& s, std::ostream* out) {
    *out << "{" << s.clearFirst << " " << s.minSize << " " << s.maxSize << " " << s.density << " "
         << s.shape << "}";
}

namespace {

#ifdef _WIN32
constexpr char kLineEnd[] = "\r\n";  // written in text mode
#else
constexpr char kLineEnd[] = "\n";
#endif

constexpr StippleSettings kZero{0, 0, 0, 0, 0};
constexpr StippleSettings kOdd{7, 7, 7, 7, 7};

TEST(LoadSettings, NoFileGivesTheDefaultsAndCreatesNothing) {
    TempDir dir;
    StippleSettings settings = kOdd;
    EXPECT_EQ(LoadSettingsInto(dir.directory().c_str(), settings), 1);
    EXPECT_EQ(settings, (StippleSettings{0, 4, 12, 30, 0}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(LoadSettings, FillsThePluginInstance) {
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "1 5 20 50 5\n");
    EXPECT_EQ(LoadSettings(dir.directory().c_str()), 1);
    EXPECT_EQ(gSettings, (StippleSettings{1, 5, 20, 50, 5}));
}

struct ReadCase {
    const char* name;
    const char* content;
    StippleSettings before;
    StippleSettings expected;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class ReadSettingsFile : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadSettingsFile, ReadsWhatIsThereAndKeepsTheRest) {
    const ReadCase& c = GetParam();
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), c.content);
    StippleSettings settings = c.before;
    LoadSettingsInto(dir.directory().c_str(), settings);
    EXPECT_EQ(settings, c.expected);
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat")), c.content) << "loading must not touch the file";
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ReadSettingsFile,
    ::testing::Values(
        ReadCase{"Full", "1 5 20 50 5\n", kZero, {1, 5, 20, 50, 5}},
        ReadCase{"WindowsLineEnd", "0 4 12 30 0\r\n", kOdd, {0, 4, 12, 30, 0}},
        ReadCase{"NoLineEnd", "1 2 3 4 5", kZero, {1, 2, 3, 4, 5}},
        ReadCase{"AnyWhitespace", "  1\r\n2\t\t3\n\n 4\v5\f", kZero, {1, 2, 3, 4, 5}},
        ReadCase{"ShortKeepsTheRest", "1 6", kZero, {1, 6, 0, 0, 0}},
        ReadCase{"ShortKeepsEarlierValues", "1 6\n", kOdd, {1, 6, 7, 7, 7}},
        ReadCase{"Empty", "", kOdd, kOdd}, ReadCase{"NotANumber", "abc 1 2 3 4", kOdd, kOdd},
        ReadCase{"StopsAtTheFirstNonNumber", "3 4 x 5 6", kOdd, {3, 4, 7, 7, 7}},
        ReadCase{"NumberRunsIntoText", "3 4 5abc 6", kOdd, {3, 4, 5, 7, 7}},
        ReadCase{"TrailingTextIgnored", "1 2 3 4 5 6 junk", kZero, {1, 2, 3, 4, 5}},
        ReadCase{"Signs", "+1 -2 +0 -0 -30", kOdd, {1, -2, 0, 0, -30}},
        ReadCase{"SignWithoutDigits", "1 - 2", kOdd, {1, 7, 7, 7, 7}},
        ReadCase{"AdjacentSignedNumbers", "1-2+3", kOdd, {1, -2, 3, 7, 7}},
        ReadCase{"ShapeOutOfRangeKept", "0 4 12 30 9", kZero, {0, 4, 12, 30, 9}},
        ReadCase{"Int32Limits", "2147483647 -2147483648", kZero, {INT_MAX, INT_MIN, 0, 0, 0}},
        ReadCase{"BeyondInt32Saturates",
                 "2147483648 -2147483649 99999999999999999999999 0 0",
                 kZero,
                 {INT_MAX, INT_MIN, INT_MAX, 0, 0}},
        ReadCase{"LeadingZeros", "0000000000000000000012 4", kZero, {12, 4, 0, 0, 0}}),
    [](const auto& info) { return info.param.name; });

TEST(ReadSettings, CountsTheFieldsItRead) {
    for (const auto& [content, count] : std::initializer_list<std::pair<const char*, int>>{
             {"1 5 20 50 5\n", 5}, {"1 2 3 4 5 6", 5}, {"1 6", 2}, {"3 4 x 5", 2}, {"", 0}}) {
        TempDir dir;
        WriteFile(dir.file("moxel5.dat"), content);
        std::FILE* file = std::fopen(dir.file("moxel5.dat").string().c_str(), "rt");
        ASSERT_NE(file, nullptr);
        StippleSettings settings = kOdd;
        EXPECT_EQ(ReadSettings(file, settings), count) << content;
        std::fclose(file);
    }
}

// The check every Linux host refuses settings with, and its words.
TEST(CheckSettings, NamesTheFirstWrongFieldAndItsRange) {
    struct Case {
        StippleSettings settings;
        const SettingsLimits* limits;
        const char* words;  // empty: accepted
    };
    const Case cases[] = {
        {kDefaultSettings, &kDialogLimits, ""},
        {{1, 2, 30, 100, Star}, &kDialogLimits, ""},
        {{0, 4, 12, 30, 7}, &kDialogLimits, "shape is 7, outside its range 0 to 5"},
        {{0, 4, 12, 0, 0}, &kDialogLimits, "density is 0, outside its range 1 to 100"},
        {{2, 4, 12, 0, 9}, &kDialogLimits, "white is 2, outside its range 0 to 1"},
        {{0, 4, 31, 30, 0}, &kDialogLimits, "max-size is 31, outside its range 2 to 30"},
        {{0, 4, 200, 30, 0}, &kToolLimits, ""},
        {{0, 1, 200, 30, 0}, &kToolLimits, "min-size is 1, outside its range 2 to 200"},
        {{0, 9, 5, 30, 0}, &kDialogLimits, "max-size is 5, below min-size (9)"},
    };
    for (const Case& c : cases) {
        const std::optional<SettingsFault> fault = CheckSettings(c.settings, *c.limits);
        EXPECT_EQ(fault ? DescribeFault(*fault) : "", c.words);
    }
}

TEST(KeepSizesInOrder, TheMovedSizeWins) {
    StippleSettings settings{0, 20, 10, 30, 0};
    KeepSizesInOrder(settings, SettingField::MinSize);
    EXPECT_EQ(settings.maxSize, 20);
    settings = {0, 20, 10, 30, 0};
    KeepSizesInOrder(settings, SettingField::MaxSize);
    EXPECT_EQ(settings.minSize, 10);
}

TEST(ShapeNames, RoundTripInShapeOrder) {
    for (std::int32_t shape = Circle; shape <= Star; ++shape) {
        EXPECT_EQ(ShapeFromName(kShapeNames[shape]), shape);
    }
    EXPECT_EQ(ShapeFromName("Circle"), std::nullopt);
    EXPECT_EQ(ShapeNameList(), "circle, triangle, square, pentagon, hexagon or star");
}

TEST(SaveSettings, WritesTheDefaultsAsOneLine) {
    TempDir dir;
    StippleSettings settings = kOdd;
    LoadSettingsInto(dir.directory().c_str(), settings);
    EXPECT_EQ(SaveSettingsFrom(dir.directory().c_str(), settings), 1);
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat")), std::string("0 4 12 30 0") + kLineEnd);
}

TEST(SaveSettings, WritesThePluginInstanceAndReadsBack) {
    TempDir dir;
    gSettings = {1, -5, INT_MAX, INT_MIN, 3};
    EXPECT_EQ(SaveSettings(dir.directory().c_str()), 1);
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat")),
              std::string("1 -5 2147483647 -2147483648 3") + kLineEnd);
    gSettings = kZero;
    LoadSettings(dir.directory().c_str());
    EXPECT_EQ(gSettings, (StippleSettings{1, -5, INT_MAX, INT_MIN, 3}));
}

TEST(SaveSettings, ReplacesALongerFile) {
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "1 30 30 100 5 and a lot of trailing text\n");
    EXPECT_EQ(SaveSettingsFrom(dir.directory().c_str(), kDefaultSettings), 1);
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat")), std::string("0 4 12 30 0") + kLineEnd);
}

TEST(SaveSettings, MissingDirectoryFails) {
    TempDir dir;
    const std::string missing = (dir.path() / "missing" / "").string();
    EXPECT_EQ(SaveSettingsFrom(missing.c_str(), kDefaultSettings), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

std::set<std::string> Names(const std::filesystem::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(SaveSettings, LeavesOnlyTheSettingsFileBehind) {
    TempDir dir;
    for (int round = 0; round < 2; ++round) {  // a new file, then a replaced one
        EXPECT_EQ(SaveSettingsFrom(dir.directory().c_str(), kDefaultSettings), 1);
        EXPECT_EQ(Names(dir.path()), std::set<std::string>{"moxel5.dat"});
    }
}

// Directories that cannot take a new file, even for root, whom permission bits do not stop.
TEST(SaveSettings, UnwritableDirectoryFailsAndCreatesNothing) {
    TempDir dir;
    WriteFile(dir.file("plain-file"), "not a directory");
    const std::string underAFile = (dir.path() / "plain-file" / "").string();
    EXPECT_EQ(SaveSettingsFrom(underAFile.c_str(), kDefaultSettings), 0);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"plain-file"});
    EXPECT_EQ(ReadFile(dir.file("plain-file")), "not a directory");
#ifndef _WIN32
    EXPECT_EQ(SaveSettingsFrom("/proc/", kDefaultSettings), 0);
    EXPECT_FALSE(std::filesystem::exists("/proc/moxel5.dat"));
    EXPECT_FALSE(std::filesystem::exists("/proc/moxel5.tmp"));
#endif
}

#ifndef _WIN32
// Files may grow to `bytes` and no further while this lives: a write past that is cut short and
// then fails (EFBIG), as on a disk that fills up in the middle of the line.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // else the signal ends the test
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};
#endif

// A save that fails at any step leaves the settings file exactly as it was and nothing of its
// own behind.
struct SaveFailure {
    const char* name;
    // Makes a step fail in a directory that already holds "moxel5.dat"; null for none.
    void (*arrange)(const TempDir& dir);
    // What the directory holds afterwards besides the settings file.
    std::set<std::string> left;
    // Above 0: files may grow to this many bytes during the save.
    int fileSizeLimit = 0;
};

void PrintTo(const SaveFailure& c, std::ostream* out) { *out << c.name; }

class SaveSettingsFailure : public ::testing::TestWithParam<SaveFailure> {};

TEST_P(SaveSettingsFailure, KeepsTheOldFileAndLeavesNothingBehind) {
    const SaveFailure& c = GetParam();
    TempDir dir;
    const std::string old = "1 5 20 50 5\n";
    WriteFile(dir.file("moxel5.dat"), old);
    if (c.arrange != nullptr) c.arrange(dir);
    int saved = -1;
    if (c.fileSizeLimit > 0) {
#ifndef _WIN32
        FileSizeLimit limit(static_cast<rlim_t>(c.fileSizeLimit));
        saved = SaveSettingsFrom(dir.directory().c_str(), kDefaultSettings);
#endif
    } else {
        saved = SaveSettingsFrom(dir.directory().c_str(), kDefaultSettings);
    }
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat")), old);
    std::set<std::string> expected = c.left;
    expected.insert("moxel5.dat");
    EXPECT_EQ(Names(dir.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveSettingsFailure,
    ::testing::Values(
        // Something that is not ours has the temporary's name: it is neither written nor removed.
        SaveFailure{"TemporaryCannotBeCreated",
                    [](const TempDir& dir) {
                        std::filesystem::create_directory(dir.file(kSettingsTemporaryName));
                        WriteFile(dir.file(kSettingsTemporaryName) / "keep", "");
                    },
                    {kSettingsTemporaryName}}
#ifndef _WIN32
        ,
        // Room for five bytes of the line, then none.
        SaveFailure{"ShortWrite", nullptr, {}, 5},
        // No room at all: the temporary is the full device.
        SaveFailure{"DiskFull",
                    [](const TempDir& dir) {
                        std::filesystem::create_symlink("/dev/full",
                                                        dir.file(kSettingsTemporaryName));
                    },
                    {}}
#endif
        ),
    [](const auto& info) { return info.param.name; });

// The complete new file cannot take the old one's place: it is removed again.
TEST(SaveSettings, FileThatCannotBeReplacedFailsAndRemovesTheNewOne) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("moxel5.dat"));
    WriteFile(dir.file("moxel5.dat") / "keep", "kept");
    EXPECT_EQ(SaveSettingsFrom(dir.directory().c_str(), kDefaultSettings), 0);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"moxel5.dat"});
    EXPECT_EQ(ReadFile(dir.file("moxel5.dat") / "keep"), "kept");
}

TEST(SettingsPath, JoinsWithNothingInBetween) {
    EXPECT_EQ(SettingsPath("C:\\host\\"), "C:\\host\\moxel5.dat");
    EXPECT_EQ(SettingsPath(""), "moxel5.dat");
}

// A directory longer than any fixed path buffer: the whole path is kept, nothing overruns, and
// the file round-trips wherever the platform can open such a path.
TEST(SettingsPath, LongDirectoryIsKeptWhole) {
    const std::string directory = std::string(600, 'd') + "/";
    EXPECT_EQ(SettingsPath(directory.c_str()), directory + "moxel5.dat");

    TempDir dir;
    std::filesystem::path deep = dir.path();
    while (deep.string().size() < 300) deep /= std::string(40, 'x');
    std::error_code error;
    std::filesystem::create_directories(deep, error);
    const std::string longDirectory = (deep / "").string();
    ASSERT_GT(longDirectory.size() + sizeof "moxel5.dat", 256u);

    const StippleSettings saved{1, 9, 19, 60, 4};
    StippleSettings loaded = kOdd;
    if (SaveSettingsFrom(longDirectory.c_str(), saved) == 1) {
        LoadSettingsInto(longDirectory.c_str(), loaded);
        EXPECT_EQ(loaded, saved);
    } else {
#ifndef _WIN32
        FAIL() << "Linux opens long paths; saving should have worked";
#endif
        LoadSettingsInto(longDirectory.c_str(), loaded);
        EXPECT_EQ(loaded, kDefaultSettings);
    }
}

}  // namespace
