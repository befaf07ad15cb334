#include "render/stipple_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>

#include "common/recording_host.h"
#include "plugin/win32_host.h"
#include "render/random.h"
#include "standin/resources.h"

namespace {

constexpr std::uint32_t kSeed = 20261207;

class StipplePass : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(standin::LiveObjects(), 0); }

    static int Run(RecordingHost& host, const StippleSettings& settings,
                   std::uint32_t seed = kSeed) {
        return RunFilterWith(settings, host.window, &host.size, &host.writer, &host.reader, seed);
    }

    // The single-pixel reads: one per shape, in drawing order.
    static std::vector<RowCall> Samples(const RecordingHost& host) {
        std::vector<RowCall> samples;
        for (const RowCall& call : host.rowCalls) {
            if (!call.write && call.first == call.last && !(host.size.width == 1)) {
                samples.push_back(call);
            }
        }
        return samples;
    }

    static std::vector<HostMessage> Percentages(const RecordingHost& host) {
        std::vector<HostMessage> percentages;
        for (const HostMessage& m : host.messages) {
            if (m.wParam == PROGRESS_PERCENT) percentages.push_back(m);
        }
        return percentages;
    }
};

StippleSettings With(int density, int minSize, int maxSize, int shape = Circle, int clear = 0) {
    return {.clearFirst = clear,
            .minSize = minSize,
            .maxSize = maxSize,
            .density = density,
            .shape = shape};
}

TEST(ShapeCount, MultipliesFirstThenDividesLeftToRight) {
    struct Case {
        LONG width, height;
        int density, minSize;
        std::int64_t count;
    };
    const Case cases[] = {
        {640, 480, 30, 4, 23040},
        {10, 10, 30, 4, 7},  // 3000 / 100 = 30, then 30 / 4
        {1000, 1000, 30, 4, 75000},
        {3, 3, 30, 4, 0},  // below 100 x minSize
        {0, 480, 30, 4, 0},
        {640, 0, 30, 4, 0},
        {640, 480, 0, 4, 0},
        {640, 480, -30, 4, -23040},
        {20000, 20000, 100, 4, 100000000},  // the product passes 32 bits
        {20000, 20000, 100, 2, 200000000},
        {640, 480, 30, 0, 0},   // no divisor: no shapes
        {640, 480, 30, -4, 0},  // nor for a negative one
        {INT_MAX, INT_MAX, INT_MAX, 1, LLONG_MAX / 100},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShapeCount(c.width, c.height, c.density, c.minSize), c.count)
            << c.width << " x " << c.height << " density " << c.density << " min " << c.minSize;
    }
}

TEST(ProgressPercent, TruncatesWithoutOverflow) {
    EXPECT_EQ(ProgressPercent(0, 23040), 0);
    EXPECT_EQ(ProgressPercent(23000, 23040), 99);
    EXPECT_EQ(ProgressPercent(100, 300), 33);
    // 20000 x 20000 at density 100: i x 100 passes 32 bits long before the end.
    EXPECT_EQ(ProgressPercent(99999900, 100000000), 99);
    EXPECT_EQ(ProgressPercent(50000000, 100000000), 50);
    EXPECT_EQ(ProgressPercent(LLONG_MAX / 2, LLONG_MAX), 50);
}

TEST_F(StipplePass, DefaultsOn640x480Draw23040ShapesWith231ProgressMessages) {
    RecordingHost host(640, 480);
    EXPECT_EQ(Run(host, kDefaultSettings), 1);
    EXPECT_EQ(Samples(host).size(), 23040u);
    const std::vector<HostMessage> percentages = Percentages(host);
    ASSERT_EQ(percentages.size(), 231u);
    for (std::size_t k = 0; k < percentages.size(); ++k) {
        EXPECT_EQ(percentages[k].lParam, static_cast<LPARAM>(k * 100 * 100 / 23040));
    }
    EXPECT_EQ(percentages.back().lParam, 99);
    EXPECT_EQ(host.messages.back(), (HostMessage{WM_USER, PROGRESS_DONE, 0}));
}

// Shape by shape the host sees: a read per shape, and a message right after each hundredth
// shape, before the next shape's read.
TEST_F(StipplePass, HostSeesReadsAndMessagesInShapeOrder) {
    for (const auto& [width, height] : {std::pair{640, 480}, {40, 40}, {10, 10}, {77, 53}}) {
        RecordingHost host(width, height);
        Run(host, kDefaultSettings);
        const std::int64_t count = ShapeCount(width, height, 30, 4);
        std::string expected(height, 'r');
        for (std::int64_t i = 0; i < count; ++i) {
            expected += 'r';
            if (i % 100 == 0) expected += 'm';
        }
        expected += std::string(height, 'w') + 'm';
        EXPECT_EQ(host.events, expected) << width << " x " << height;
    }
}

TEST_F(StipplePass, ProgressMessagesByShapeCount) {
    struct Case {
        LONG width, height;
        std::size_t shapes, percentages;
    };
    // 10 x 10: 7 shapes; 40 x 40: 120; 3 x 3: none, and then no percentage at all.
    for (const Case& c : {Case{10, 10, 7, 1}, {40, 40, 120, 2}, {3, 3, 0, 0}, {0, 9, 0, 0}}) {
        RecordingHost host(c.width, c.height);
        EXPECT_EQ(Run(host, kDefaultSettings), 1);
        EXPECT_EQ(Samples(host).size(), c.shapes) << c.width << " x " << c.height;
        EXPECT_EQ(Percentages(host).size(), c.percentages) << c.width << " x " << c.height;
        if (c.percentages > 0) {
            EXPECT_EQ(Percentages(host).front().lParam, 0);
        }
        EXPECT_EQ(host.messages.back(), (HostMessage{WM_USER, PROGRESS_DONE, 0}));
    }
}

// The reader's single-pixel calls reveal the random draws: x, then y, then the size.
TEST_F(StipplePass, DrawsXThenYThenSizeAndSamplesTheRowAfterTheCentre) {
    struct Case {
        const char* name;
        StippleSettings settings;
        LONG width, height;
    };
    const Case cases[] = {
        {"SizeDrawn", With(30, 4, 12), 97, 61},
        {"EqualSizesDrawNoSize", With(30, 6, 6), 97, 61},
        {"MaxBelowMin", With(30, 10, 7), 97, 61},
        {"OneRowHigh", With(100, 2, 5), 300, 1},
    };
    for (const Case& c : cases) {
        RecordingHost host(c.width, c.height);
        Run(host, c.settings);
        const std::vector<RowCall> samples = Samples(host);
        ASSERT_FALSE(samples.empty()) << c.name;

        StippleRandom random(kSeed);
        const int spread = c.settings.maxSize - c.settings.minSize;
        for (const RowCall& sample : samples) {
            const int x = random.Next() % c.width;
            const int y = random.Next() % c.height;
            if (spread != 0) random.Next();
            const int row = std::min(std::max(c.height - y, 0), c.height - 1);
            ASSERT_EQ(sample, (RowCall{false, row, x, x})) << c.name;
        }
    }
}

TEST_F(StipplePass, ShapeAtTheTopLineTakesItsOwnRowAndOneRowImagesSampleRowZero) {
    RecordingHost tall(50, 40);
    Run(tall, With(100, 2, 2));
    std::set<int> rows;
    for (const RowCall& sample : Samples(tall)) rows.insert(sample.row);
    EXPECT_FALSE(rows.contains(0)) << "host row 0 is sampled only in a one-row image";
    EXPECT_TRUE(rows.contains(39)) << "a centre on drawing line 0 samples its own row";

    RecordingHost flat(50, 1);
    Run(flat, With(100, 2, 2));
    for (const RowCall& sample : Samples(flat)) EXPECT_EQ(sample.row, 0);
}

TEST_F(StipplePass, ShapeTakesTheSampledColourAtItsDrawingPosition) {
    // 20 x 20 at density 8 with sizes 30: exactly one circle, large enough to cover the centre.
    RecordingHost host(20, 20);
    const std::vector<BYTE> source = host.image;
    Run(host, With(8, 30, 30));
    const std::vector<RowCall> samples = Samples(host);
    ASSERT_EQ(samples.size(), 1u);
    const int x = samples[0].first;
    const int y = 20 - samples[0].row;  // sampled row = height - y (no clamp for y >= 1)
    const int centreRow = 20 - 1 - y;   // drawing line y is host row height - 1 - y
    const BYTE* expected = source.data() + (samples[0].row * 20 + x) * 3;
    if (y >= 1) {
        const BYTE* drawn = host.Pixel(x, centreRow);
        EXPECT_EQ(std::vector<BYTE>(drawn, drawn + 3), std::vector<BYTE>(expected, expected + 3));
    }
    EXPECT_NE(host.image, source);
}

TEST_F(StipplePass, EveryPenAndBrushIsDeletedBeforeTheNextShape) {
    RecordingHost host(64, 64);
    static int leftovers;
    leftovers = 0;
    static RowProc original;
    original = host.reader;
    host.reader = [](int row, int first, int last, BYTE* buffer, int flag) -> int {
        leftovers += standin::LiveObjects(standin::Resource::Pen) +
                     standin::LiveObjects(standin::Resource::Brush);
        return original(row, first, last, buffer, flag);
    };
    for (int shape = Circle; shape <= Star; ++shape) Run(host, With(30, 4, 12, shape));
    EXPECT_EQ(leftovers, 0);
}

TEST_F(StipplePass, OutOfRangeKindsAndSizesDrawNothing) {
    struct Case {
        const char* name;
        StippleSettings settings;
    };
    for (const Case& c : {Case{"Kind9", With(100, 4, 12, 9)},
                          {"KindMinus1", With(100, 4, 12, -1)},
                          {"MinSizeZero", With(100, 0, 12)},
                          {"NegativeDensity", With(-5, 4, 12)}}) {
        RecordingHost host(30, 30);
        const std::vector<BYTE> source = host.image;
        EXPECT_EQ(Run(host, c.settings), 1) << c.name;
        EXPECT_EQ(host.image, source) << c.name;
        EXPECT_EQ(host.messages.back(), (HostMessage{WM_USER, PROGRESS_DONE, 0})) << c.name;
    }
}

TEST_F(StipplePass, EveryKindPaintsOnlySourceColoursOverWhite) {
    for (int shape = Circle; shape <= Star; ++shape) {
        RecordingHost host(40, 30);
        auto pixelAt = [&host](std::size_t i) {
            return host.image[i] | host.image[i + 1] << 8 | host.image[i + 2] << 16;
        };
        std::set<int> palette{0xFFFFFF};
        for (std::size_t i = 0; i < host.image.size(); i += 3) palette.insert(pixelAt(i));
        Run(host, With(50, 3, 9, shape, 1));
        int painted = 0;
        for (std::size_t i = 0; i < host.image.size(); i += 3) {
            EXPECT_TRUE(palette.contains(pixelAt(i))) << "kind " << shape;
            painted += pixelAt(i) != 0xFFFFFF;
        }
        EXPECT_GT(painted, 100) << "kind " << shape;
    }
}

TEST_F(StipplePass, SameSeedSameImageSameResult) {
    RecordingHost first(80, 60);
    Run(first, kDefaultSettings, 7);
    RecordingHost second(80, 60);
    Run(second, kDefaultSettings, 7);
    RecordingHost other(80, 60);
    Run(other, kDefaultSettings, 8);
    EXPECT_EQ(first.image, second.image);
    EXPECT_NE(first.image, other.image);
}

}  // namespace
