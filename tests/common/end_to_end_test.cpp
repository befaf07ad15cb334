// Whole runs with fixed seeds on a fixed image, one per shape and background, pinned by the
// SHA-256 of the image they leave. The hashes were recorded once from MOXEL.dll drawing through
// real GDI under Wine; both builds must reproduce them, so the Linux build's stand-in is held to
// real GDI, and a change to where, how large or what colour the shapes come out shows on both.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/recording_host.h"
#include "common/sha256.h"
#include "plugin/win32_host.h"

namespace {

struct EndToEndCase {
    const char* name;
    StippleSettings settings;
    std::uint32_t seed;
    const char* sha256;
};

// Every shape over the image with the widest size range, and on white at the defaults.
constexpr StippleSettings OverImage(std::int32_t shape) {
    return {.clearFirst = 0, .minSize = 2, .maxSize = 30, .density = 60, .shape = shape};
}
constexpr StippleSettings OnWhite(std::int32_t shape) {
    return {.clearFirst = 1, .minSize = 4, .maxSize = 12, .density = 30, .shape = shape};
}

const EndToEndCase kCases[] = {
    {"circle-image", OverImage(Circle), 4242,
     "5e203b383eef30c8200cf2cfb53f0400e0cebc9c0b30c35f1ff48b173a21f30c"},
    {"triangle-image", OverImage(Triangle), 4243,
     "9cacbbd789da9f6845daf928d2b5fac93fc3147c79266836295bb9d04be0af57"},
    {"square-image", OverImage(Square), 4244,
     "7a508984c8fcea56099ace75891038cb43711c99c760c7f5a657d5e05dc29fd0"},
    {"pentagon-image", OverImage(Pentagon), 4245,
     "2692a40feb0512ce996357fef883e727d1a66c6a2d0da24255dc89eefec8ef6c"},
    {"hexagon-image", OverImage(Hexagon), 4246,
     "13f8997d3caa2b81cf6f0d0b592d5a53c508a3211161df5c3469d3ebe048daef"},
    {"star-image", OverImage(Star), 4247,
     "e71901e407092e1af2ac4b5078c7c2e8a2e33c6fd0bba50efba356c3314e8522"},
    {"circle-white", OnWhite(Circle), 99,
     "cc62932efbb0c5b33e10921bf29bccbb4adaa8b11001ce13b79cfd1c050ab7dd"},
    {"triangle-white", OnWhite(Triangle), 100,
     "3e01307f3708f004552c60da20f47c4f525481a3559c1cfbdeac74d406c60f50"},
    {"square-white", OnWhite(Square), 101,
     "a82e19ac268ac068c10f8f17b09313cdc47956ad9afc547c672e22e02d2547dc"},
    {"pentagon-white", OnWhite(Pentagon), 102,
     "b85173fa578f18ca3f2e915b7739fadd3d4a13ccaf27a80f2941d3f9cc093639"},
    {"hexagon-white", OnWhite(Hexagon), 103,
     "e096dd4d37ebb88dae3412a81b12f3d23ab9baa6b8b72c1489807ec319ef8751"},
    {"star-white", OnWhite(Star), 104,
     "994fe1d3101f821cf5467d92ad1e7c00be592737910634a75e217053dc706fa8"},
};

// An odd-sized image (canvas margins of 1 and 3 pixels) with smooth gradients and hard edges.
std::vector<BYTE> RunCase(const EndToEndCase& c) {
    RecordingHost host(211, 157);
    for (int row = 0; row < 157; ++row) {
        for (int column = 0; column < 211; ++column) {
            BYTE* pixel = host.Pixel(column, row);
            pixel[0] = static_cast<BYTE>(column + row);
            pixel[1] = static_cast<BYTE>((column / 16 + row / 16) % 2 ? 200 : 40);
            pixel[2] = static_cast<BYTE>(row * 255 / 156);
        }
    }
    EXPECT_EQ(
        RunFilterWith(c.settings, host.window, &host.size, &host.writer, &host.reader, c.seed), 1);
    return host.image;
}

}  // namespace

TEST(EndToEnd, WholeRunsGiveTheImagesRealGdiDrew) {
    for (const EndToEndCase& c : kCases) {
        EXPECT_EQ(Sha256Hex(RunCase(c)), c.sha256) << c.name;
    }
}
