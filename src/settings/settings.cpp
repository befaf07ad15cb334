#include "settings/settings.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <limits>

StippleSettings gSettings{};

namespace {

// One decimal number as "%d" reads it: leading whitespace, an optional sign, then digits.
// Values beyond 32 bits saturate, where the C library's behaviour would be undefined.
bool ReadNumber(std::FILE* file, std::int32_t& value) {
    int c = std::getc(file);
    while (c != EOF && std::isspace(c)) c = std::getc(file);
    const bool negative = c == '-';
    if (c == '-' || c == '+') c = std::getc(file);
    if (c == EOF || !std::isdigit(c)) {
        if (c != EOF) std::ungetc(c, file);
        return false;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; c != EOF && std::isdigit(c); c = std::getc(file)) {
        if (magnitude < kLimit) magnitude = magnitude * 10 + (c - '0');
    }
    if (c != EOF) std::ungetc(c, file);
    if (magnitude > kLimit) magnitude = kLimit;
    std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<std::int32_t>::max()) {
        signedValue = std::numeric_limits<std::int32_t>::max();
    }
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

}  // namespace

std::string SettingsPath(const char* directory) {
    // Built to its full length: a long directory must not overrun anything. Where the platform
    // cannot open so long a path, the file simply counts as missing.
    return std::string(directory) + kSettingsFileName;
}

int ReadSettings(std::FILE* file, StippleSettings& settings) {
    int read = 0;
    for (std::int32_t* field : {&settings.clearFirst, &settings.minSize, &settings.maxSize,
                                &settings.density, &settings.shape}) {
        if (!ReadNumber(file, *field)) break;
        ++read;
    }
    return read;
}

int LoadSettingsInto(const char* directory, StippleSettings& settings) {
    std::FILE* file = std::fopen(SettingsPath(directory).c_str(), "rt");
    if (file == nullptr) {
        settings = kDefaultSettings;
        return 1;
    }
    ReadSettings(file, settings);
    std::fclose(file);
    return 1;
}

int SaveSettingsFrom(const char* directory, const StippleSettings& settings) {
    // The settings go to a file of their own beside the old one, which they replace only once they
    // are complete: a full disk or a write failing part-way leaves the old settings as they were,
    // never an empty or cut-off file. The temporary name is as long as the file's own, so any
    // directory that can hold the one can hold the other.
    const std::string path = SettingsPath(directory);
    const std::string temporary = std::string(directory) + kSettingsTemporaryName;
    std::FILE* file = std::fopen(temporary.c_str(), "wt");
    if (file == nullptr) return 0;
    bool complete = std::fprintf(file, "%d %d %d %d %d\n", settings.clearFirst, settings.minSize,
                                 settings.maxSize, settings.density, settings.shape) > 0;
    // The buffered line reaches the file here, so this is where a full disk shows.
    complete = std::fflush(file) == 0 && complete;
    complete = std::ferror(file) == 0 && complete;
    complete = std::fclose(file) == 0 && complete;
    if (complete && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 1;
    }
    std::remove(temporary.c_str());
    return 0;
}

int LoadSettings(const char* directory) { return LoadSettingsInto(directory, gSettings); }

int SaveSettings(const char* directory) { return SaveSettingsFrom(directory, gSettings); }
