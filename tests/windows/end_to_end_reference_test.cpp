// Draws the end-to-end runs through real GDI and keeps the results: the reference that the
// Linux build's stand-in must match byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/end_to_end_cases.h"

TEST(EndToEndReference, RealGdiRunsAreRecorded) {
    const std::filesystem::path directory = REFERENCE_DIR;
    std::filesystem::create_directories(directory);
    for (const EndToEndCase& c : EndToEndCases()) {
        const std::vector<BYTE> image = RunEndToEndCase(c);
        int changed = 0;
        RecordingHost untouched(211, 157);
        for (std::size_t i = 0; i < image.size(); ++i) changed += image[i] != untouched.image[i];
        EXPECT_GT(changed, 0) << c.name << ": the run drew nothing";
        std::ofstream out(directory / (c.name + ".bgr"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), image.size());
        EXPECT_TRUE(out.good()) << c.name;
    }
}
