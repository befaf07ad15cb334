// What the fuzz targets share: a check that stops the run with a message, fields taken from the
// input, and a scratch directory of the process's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

// A broken promise is a finding like a crash: libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Takes fixed-size fields from the front of the input; an input that runs out reads as zeros, so
// every input, however short, means something.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() {
        if (used_ >= size_) return 0;
        return data_[used_++];
    }

    std::uint32_t Uint32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= std::uint32_t{Byte()} << (8 * i);
        return value;
    }

    std::int32_t Int32() { return static_cast<std::int32_t>(Uint32()); }

    // lowest..highest, both included, from one byte.
    int InRange(int lowest, int highest) { return lowest + Byte() % (highest - lowest + 1); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// A directory for this process alone, ending in a separator as the plug-in takes directories,
// removed when the process ends normally (libFuzzer exits normally at the end of its time).
class ScratchDirectory {
public:
    explicit ScratchDirectory(const char* purpose) {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::string pattern = (base / (std::string("moxel-fuzz-") + purpose + "-XXXXXX")).string();
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string directory() const { return (path_ / "").string(); }
    std::filesystem::path file(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};
