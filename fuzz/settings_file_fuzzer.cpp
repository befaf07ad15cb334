// The settings loader on arbitrary bytes, read two ways: as "moxel5.dat" in a directory, the way
// the plug-in reads it, and straight from memory. Both must read the same five numbers, loading
// must leave the file as it was, and whatever was read must come back unchanged from a save and a
// load.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "fuzz_support.h"
#include "settings/settings.h"

namespace {

// Something no file can give by accident, so a field the reader skipped shows.
constexpr StippleSettings kBefore{-7, 70000, INT32_MIN, 9, 123456};

void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchDirectory loadFrom("settings-load");
    static const ScratchDirectory saveTo("settings-save");

    WriteBytes(loadFrom.file(kSettingsFileName), data, size);
    StippleSettings fromFile = kBefore;
    FUZZ_CHECK(LoadSettingsInto(loadFrom.directory().c_str(), fromFile) == 1);
    FUZZ_CHECK(ReadBytes(loadFrom.file(kSettingsFileName)) ==
               std::string(reinterpret_cast<const char*>(data), size));

    // fmemopen reads the buffer and never writes it in "r" mode.
    std::FILE* memory = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    FUZZ_CHECK(memory != nullptr);
    StippleSettings fromMemory = kBefore;
    ReadSettings(memory, fromMemory);
    std::fclose(memory);
    FUZZ_CHECK(fromMemory == fromFile);

    FUZZ_CHECK(SaveSettingsFrom(saveTo.directory().c_str(), fromFile) == 1);
    StippleSettings reloaded{};
    LoadSettingsInto(saveTo.directory().c_str(), reloaded);
    FUZZ_CHECK(reloaded == fromFile);
    FUZZ_CHECK(!std::filesystem::exists(saveTo.file(kSettingsTemporaryName)));
    return 0;
}
