// Every allocation and object a run asks for, refused in turn: the first request of a kind, then
// the second, and so on until a run makes fewer requests than the refusal waits for. Whatever is
// refused, a run either gives up before the host sees a single row or completes and hands back
// every row; it never leaves the host with half an image, and it releases all it made.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/recording_host.h"
#include "plugin/win32_host.h"
#include "render/stipple_pass.h"
#include "standin/resources.h"

namespace {

using standin::Resource;

struct ResourceCase {
    const char* name;
    Resource kind;
    // The header block, the canvas, its context and the row buffer carry the run: without one of
    // them it gives up. A pen or brush only colours one shape (or the white fill), and the shape
    // is drawn with what the context already holds.
    int resultWhenRefused;
};

constexpr ResourceCase kResources[] = {
    {"GlobalMemory", Resource::GlobalMemory, 0},
    {"GlobalLock", Resource::GlobalLock, 0},
    {"DibSection", Resource::DibSection, 0},
    {"MemoryDc", Resource::MemoryDc, 0},
    {"Pen", Resource::Pen, 1},
    {"Brush", Resource::Brush, 1},
};

// A size with dozens of shapes, the smallest canvas, and rows with no pixels.
constexpr ImageSize kSizes[] = {{23, 9}, {1, 1}, {0, 3}};

std::vector<StippleSettings> EverySetting() {
    std::vector<StippleSettings> all;
    for (int clearFirst : {0, 1}) {
        for (int shape = Circle; shape <= Star; ++shape) {
            all.push_back({.clearFirst = clearFirst,
                           .minSize = 2,
                           .maxSize = 9,
                           .density = 40,
                           .shape = shape});
        }
    }
    return all;
}

std::string Describe(const ResourceCase& resource, int nth, const ImageSize& size,
                     const StippleSettings& s) {
    return std::string(resource.name) + " request " + std::to_string(nth) + " refused, " +
           std::to_string(size.width) + " x " + std::to_string(size.height) + ", clearFirst " +
           std::to_string(s.clearFirst) + ", shape " + std::to_string(s.shape);
}

std::vector<RowCall> AllRows(bool write, const ImageSize& size) {
    std::vector<RowCall> calls;
    for (int row = 0; row < size.height; ++row) calls.push_back({write, row, 0, size.width - 1});
    return calls;
}

// What a complete run asks for: the header block and the row buffer, their one lock, the canvas and
// its context, and a pen and a brush for each shape, plus the white brush when it clears first.
int Requests(Resource kind, const ImageSize& size, const StippleSettings& s) {
    const auto shapes = static_cast<int>(ShapeCount(size.width, size.height, s.density, s.minSize));
    switch (kind) {
        case Resource::GlobalMemory:
            return 2;
        case Resource::Pen:
            return shapes;
        case Resource::Brush:
            return shapes + (s.clearFirst == 1 ? 1 : 0);
        default:
            return 1;
    }
}

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override { standin::ClearFailures(); }
    void TearDown() override { standin::ClearFailures(); }
};

TEST_F(FaultInjection, EveryRefusedRequestEndsInACleanFailureOrAWholeImage) {
    int total = 0;
    for (const ResourceCase& resource : kResources) {
        int injected = 0;
        for (const ImageSize& size : kSizes) {
            for (const StippleSettings& settings : EverySetting()) {
                int nth = 1;
                for (;; ++nth) {
                    ASSERT_LT(nth, 1000) << "a run of this size makes no such number of requests";
                    RecordingHost host(size.width, size.height);
                    standin::FailNth(resource.kind, nth);
                    const int result = RunFilterWith(settings, host.window, &host.size,
                                                     &host.writer, &host.reader, 7);
                    const bool reached = !standin::FailurePending(resource.kind);
                    standin::ClearFailures();
                    const std::string what = Describe(resource, nth, size, settings);

                    EXPECT_EQ(standin::LiveObjects(), 0) << what;
                    std::vector<RowCall> writes;
                    for (const RowCall& call : host.rowCalls) {
                        if (call.write) writes.push_back(call);
                    }
                    const int expected = reached ? resource.resultWhenRefused : 1;
                    EXPECT_EQ(result, expected) << what;
                    if (result == 1) {
                        EXPECT_EQ(writes, AllRows(true, size)) << what;
                        ASSERT_FALSE(host.messages.empty()) << what;
                        EXPECT_EQ(host.messages.back(), (HostMessage{WM_USER, PROGRESS_DONE, 0}))
                            << what;
                    } else {
                        // Given up before the host was asked for anything.
                        EXPECT_TRUE(host.rowCalls.empty()) << what;
                        EXPECT_TRUE(host.messages.empty()) << what;
                    }
                    if (!reached) break;
                    ++injected;
                }
                EXPECT_EQ(nth - 1, Requests(resource.kind, size, settings))
                    << resource.name << ", " << size.width << " x " << size.height
                    << ", clearFirst " << settings.clearFirst << ", shape " << settings.shape;
            }
        }
        std::printf("%-12s %5d refusals\n", resource.name, injected);
        total += injected;
    }
    std::printf("faults injected: %d\n", total);
    RecordProperty("faults_injected", total);
}

}  // namespace
