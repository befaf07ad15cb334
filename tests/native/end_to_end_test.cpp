// The Linux build against the runs that real GDI drew under Wine (the Windows tests record them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/end_to_end_cases.h"
#include "common/temp_dir.h"

TEST(EndToEnd, StandInRunsMatchRealGdiByteForByte) {
    const std::filesystem::path directory = REFERENCE_DIR;
    if (!std::filesystem::exists(directory / "circle-image.bgr")) {
        if (std::getenv("MOXEL_REQUIRE_REFERENCE") != nullptr) {
            FAIL() << "no reference runs in " << directory << ": run the Windows tests first";
        }
        GTEST_SKIP() << "no reference runs yet in " << directory
                     << " (the Windows tests make them)";
    }
    for (const EndToEndCase& c : EndToEndCases()) {
        const std::vector<BYTE> image = RunEndToEndCase(c);
        const std::string reference = ReadFile(directory / (c.name + ".bgr"));
        ASSERT_EQ(reference.size(), image.size()) << c.name;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < image.size(); i += 3) {
            differing += reference.compare(i, 3, reinterpret_cast<const char*>(&image[i]), 3) != 0;
        }
        EXPECT_EQ(differing, 0u) << c.name << ": pixels differing from real GDI";
    }
}
