// A fuzz target without libFuzzer, fed the inputs kept for it: each input that once made a target
// fail, and a few edge cases besides. The target checks its own promises and aborts when one is
// broken, so a test here fails by ending the program; the input's name is printed first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> KeptInputs() {
    std::vector<std::filesystem::path> inputs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(REPLAY_DIR, error)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(FuzzReplay, RunsCleanThroughTheTarget) {
    const std::string bytes = ReadFile(GetParam());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", GetParam().c_str(), bytes.size());
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzReplay, ::testing::ValuesIn(KeptInputs()), [](const auto& info) {
    std::string name = info.param.filename().string();
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

// An empty folder would make the tests above vanish without a word.
TEST(FuzzReplay, HasInputsToReplay) { EXPECT_FALSE(KeptInputs().empty()) << REPLAY_DIR; }

}  // namespace
