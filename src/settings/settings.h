// The filter's five settings, their defaults and the one-line settings file that keeps them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum ShapeKind : std::int32_t {
    Circle = 0,
    Triangle = 1,
    Square = 2,
    Pentagon = 3,
    Hexagon = 4,
    Star = 5,
};

// Held in the file in this order.
struct StippleSettings {
    std::int32_t clearFirst;  // 1: paint the canvas white first; 0: start from the image
    std::int32_t minSize;
    std::int32_t maxSize;
    std::int32_t density;  // coverage percentage
    std::int32_t shape;    // a ShapeKind

    bool operator==(const StippleSettings&) const = default;
};

constexpr StippleSettings kDefaultSettings{
    .clearFirst = 0, .minSize = 4, .maxSize = 12, .density = 30, .shape = Circle};

// The ranges the options dialog offers (settings/contract.h holds them for the other hosts).
constexpr std::int32_t kDensityLowest = 1;
constexpr std::int32_t kDensityHighest = 100;
constexpr std::int32_t kSizeLowest = 2;
constexpr std::int32_t kSizeHighest = 30;

constexpr char kSettingsFileName[] = "moxel5.dat";
// Where a save writes the new settings before they replace the file.
constexpr char kSettingsTemporaryName[] = "moxel5.tmp";

// The plug-in's one settings instance. It is all zeros until the first LoadSettings; the dialog
// edits it in place and runs read it.
extern StippleSettings gSettings;

// Loads the settings file in `directory` (which ends in a path separator) into gSettings, or the
// defaults when the file cannot be opened. Always 1.
int LoadSettings(const char* directory);
// Writes gSettings to the settings file in `directory`. 1 when written, 0 when it could not be;
// then the file is as it was before.
int SaveSettings(const char* directory);

// The same for a settings record of the caller's, for tools that keep their own.
int LoadSettingsInto(const char* directory, StippleSettings& settings);
int SaveSettingsFrom(const char* directory, const StippleSettings& settings);

// The directory joined with the file name, nothing in between.
std::string SettingsPath(const char* directory);

// Reads up to five whitespace-separated decimal numbers from `file` into the fields in file
// order, stopping at the first item that is not a number; later fields keep their values.
// Returns how many fields were read, 0 to 5.
int ReadSettings(std::FILE* file, StippleSettings& settings);
