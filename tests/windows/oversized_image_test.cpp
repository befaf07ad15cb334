// Images too large for a 32-bit process: the plug-in, loaded by name as a host loads it, must turn
// them down by returning 0, without calling the host back or sending it a message.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/recording_host.h"
#include "common/temp_dir.h"
#include "plugin/plugin.h"

namespace {

using FilterProcFn = int(WINAPI*)(HWND, const ImageSize*, RowProc*, RowProc*, const char*);

int WINAPI MustNotBeCalled(int row, int first, int last, BYTE*, int) {
    ADD_FAILURE() << "row callback called for row " << row << ", columns " << first << ".." << last;
    return 0;
}

struct Oversized {
    LONG width;
    LONG height;
};

class OversizedImage : public ::testing::TestWithParam<Oversized> {};

TEST_P(OversizedImage, FilterProcReturnsZeroWithoutTouchingTheHost) {
    HMODULE module = LoadLibraryA("MOXEL.dll");
    ASSERT_NE(module, nullptr);
    auto filterProc = reinterpret_cast<FilterProcFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FilterProc")));
    ASSERT_NE(filterProc, nullptr);

    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "0 4 12 30 0\n");
    RecordingHost host(0, 0);  // no pixels of its own: none may be asked for
    host.size = {GetParam().width, GetParam().height};
    host.reader = &MustNotBeCalled;
    host.writer = &MustNotBeCalled;
    EXPECT_EQ(
        filterProc(host.window, &host.size, &host.writer, &host.reader, dir.directory().c_str()),
        0);
    EXPECT_TRUE(host.messages.empty());

    // Whatever the run tried to make was given back: the same run again fails the same way
    // rather than finding the address space used up.
    EXPECT_EQ(
        filterProc(host.window, &host.size, &host.writer, &host.reader, dir.directory().c_str()),
        0);
    FreeLibrary(module);
}

// 2.7 GB of canvas, more than a 32-bit process can hold; 12.9 GB, whose byte count also leaves 32
// bits; and a canvas of 3 GB in a single row.
INSTANTIATE_TEST_SUITE_P(Sizes, OversizedImage,
                         ::testing::Values(Oversized{30000, 30000}, Oversized{65536, 65536},
                                           Oversized{1'000'000'000, 1}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

}  // namespace
