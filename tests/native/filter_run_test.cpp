#include "plugin/win32_host.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/recording_host.h"
#include "common/temp_dir.h"
#include "render/canvas.h"
#include "standin/resources.h"

namespace {

constexpr std::uint32_t kSeed = 12345;
constexpr StippleSettings kNoShapes{
    .clearFirst = 0, .minSize = 4, .maxSize = 12, .density = 0, .shape = Circle};

class FilterRun : public ::testing::Test {
protected:
    void SetUp() override { standin::ClearFailures(); }
    void TearDown() override {
        standin::ClearFailures();
        EXPECT_EQ(standin::LiveObjects(), 0) << "a run must release everything it made";
    }

    int Run(RecordingHost& host, const StippleSettings& settings) {
        return RunFilterWith(settings, host.window, &host.size, &host.writer, &host.reader, kSeed);
    }
};

std::vector<RowCall> WholeRows(bool write, int width, int height) {
    std::vector<RowCall> calls;
    for (int row = 0; row < height; ++row) calls.push_back({write, row, 0, width - 1});
    return calls;
}

TEST(CanvasWidth, AlwaysGainsOneToFourPixelsToAMultipleOfFour) {
    struct Case {
        std::int64_t width, canvas;
    };
    for (const Case c : {Case{100, 104},
                         {101, 104},
                         {103, 104},
                         {104, 108},
                         {0, 4},
                         {1, 4},
                         {5, 8},
                         {2147483647, 2147483648}}) {
        EXPECT_EQ(CanvasWidth(c.width), c.canvas) << "width " << c.width;
    }
}

TEST_F(FilterRun, NoShapesGivesTheImageBackReadingThenWritingEveryRowInOrder) {
    for (const auto& [width, height] : {std::pair{5, 3}, {100, 7}, {101, 2}, {104, 4}, {1, 1}}) {
        RecordingHost host(width, height);
        const std::vector<BYTE> original = host.image;
        EXPECT_EQ(Run(host, kNoShapes), 1);

        std::vector<RowCall> expected = WholeRows(false, width, height);
        const std::vector<RowCall> writes = WholeRows(true, width, height);
        expected.insert(expected.end(), writes.begin(), writes.end());
        EXPECT_EQ(host.rowCalls, expected) << width << " x " << height;
        EXPECT_EQ(host.image, original) << width << " x " << height;
        EXPECT_EQ(host.messages, (std::vector<HostMessage>{{WM_USER, PROGRESS_DONE, 0}}));
    }
}

TEST_F(FilterRun, ClearFirstPaintsEveryPixelWhiteWithoutReadingRows) {
    RecordingHost host(13, 6);
    StippleSettings settings = kNoShapes;
    settings.clearFirst = 1;
    EXPECT_EQ(Run(host, settings), 1);
    EXPECT_TRUE(
        std::all_of(host.image.begin(), host.image.end(), [](BYTE b) { return b == 0xFF; }));
    EXPECT_EQ(host.rowCalls, WholeRows(true, 13, 6));
}

TEST_F(FilterRun, OtherClearFirstValuesSkipTheFill) {
    RecordingHost host(6, 3);
    StippleSettings settings = kNoShapes;
    settings.clearFirst = 2;
    EXPECT_EQ(Run(host, settings), 1);
    EXPECT_EQ(host.rowCalls, WholeRows(true, 6, 3));
    // The stand-in's canvas starts black.
    EXPECT_TRUE(std::all_of(host.image.begin(), host.image.end(), [](BYTE b) { return b == 0; }));
}

TEST_F(FilterRun, ZeroWidthStillVisitsEveryRowWithAnEmptyRun) {
    RecordingHost host(0, 3);
    EXPECT_EQ(Run(host, kNoShapes), 1);
    std::vector<RowCall> expected = WholeRows(false, 0, 3);
    const std::vector<RowCall> writes = WholeRows(true, 0, 3);
    expected.insert(expected.end(), writes.begin(), writes.end());
    EXPECT_EQ(host.rowCalls, expected);
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(FilterRun, ZeroHeightCompletesWithoutTouchingRows) {
    RecordingHost host(10, 0);
    EXPECT_EQ(Run(host, kDefaultSettings), 1);
    EXPECT_TRUE(host.rowCalls.empty());
    EXPECT_EQ(host.messages, (std::vector<HostMessage>{{WM_USER, PROGRESS_DONE, 0}}));
}

TEST_F(FilterRun, NegativeSizeReadsAndWritesNothingAndFails) {
    for (const auto& [width, height] : {std::pair{-1, 5}, {5, -1}, {-3, -3}, {INT32_MIN, 1}}) {
        RecordingHost host(width, height);
        EXPECT_EQ(Run(host, kDefaultSettings), 0) << width << " x " << height;
        EXPECT_TRUE(host.rowCalls.empty());
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST_F(FilterRun, LoadsTheSettingsFromTheDirectory) {
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "1 4 12 0 0\n");
    RecordingHost host(4, 2);
    EXPECT_EQ(RunFilter(host.window, &host.size, &host.writer, &host.reader,
                        dir.directory().c_str(), kSeed),
              1);
    EXPECT_EQ(gSettings.clearFirst, 1);
    EXPECT_TRUE(
        std::all_of(host.image.begin(), host.image.end(), [](BYTE b) { return b == 0xFF; }));
}

TEST_F(FilterRun, FetchesTheCallbacksFromTheirLocationsAtEachCall) {
    RecordingHost host(3, 2);
    int swaps = 0;
    static int* counter;
    counter = &swaps;
    // A reader that, on its first call, replaces itself in its location with another reader.
    static RowProc* location;
    location = &host.reader;
    static RowProc original;
    original = host.reader;
    host.reader = [](int row, int first, int last, BYTE* buffer, int flag) -> int {
        ++*counter;
        *location = original;
        return original(row, first, last, buffer, flag);
    };
    EXPECT_EQ(Run(host, kNoShapes), 1);
    EXPECT_EQ(swaps, 1);
    EXPECT_EQ(host.WholeRowCalls(false).size(), 2u);
}

TEST_F(FilterRun, WidthTooLargeForTheCanvasFailsCleanly) {
    RecordingHost host(0, 1);
    host.size.width = INT32_MAX;  // the canvas width would pass 32 bits
    EXPECT_EQ(Run(host, kNoShapes), 0);
    EXPECT_TRUE(host.rowCalls.empty());
}

}  // namespace
