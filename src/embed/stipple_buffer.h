// The embedding API: how a Linux host (the command-line tool, the GIMP plug-in, the web page)
// filters pixels it holds in memory.
//
// It runs the plug-in's own filter run, the same canvas, stipple pass and rasteriser a Windows
// host gets, over the caller's buffer. So every host gives the plug-in's pixels for the same
// settings and seed, and none of them needs to know the Win32 side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "settings/contract.h"

// How the bytes of one pixel lie in a buffer.
enum class PixelLayout {
    Rgb,   // 3 bytes: red, green, blue
    Rgba,  // 4 bytes: red, green, blue, alpha; the filter paints colour only, alpha stays as it is
    Bgr,   // 3 bytes: blue, green, red (a DIB's order, and the plug-in's own)
};

// 8-bit pixels in memory, rows top to bottom. The buffer stays the caller's.
struct PixelBuffer {
    std::uint8_t* pixels = nullptr;  // the first pixel of the top row
    int width = 0;
    int height = 0;
    PixelLayout layout = PixelLayout::Rgb;
    // Bytes from the start of one row to the next; 0 means rows follow each other without a gap.
    std::ptrdiff_t rowStride = 0;
};

// Called on the caller's thread with each percentage the run reports (0..99, rising), then with
// 100 once it is done.
using StippleProgress = std::function<void(int percent)>;

// Called, one call at a time and from any of the run's threads, each time more of the buffer's
// rows from the top hold their final pixels (`rows` rising, to the height in a run that is done),
// so that a host can pass them on while the rest are drawn.
using StippleRowsFinal = std::function<void(int rows)>;

enum class StippleStatus {
    Done,
    BadSetting,   // a setting outside the limits asked for: `fault` says which and why
    SizeRefused,  // a negative size, no pixels, or more than the run can address
    OutOfMemory,
};

struct StippleResult {
    StippleStatus status;
    SettingsFault fault{};  // for BadSetting
    int width = 0;          // the buffer's size, for the words
    int height = 0;

    bool done() const { return status == StippleStatus::Done; }
};

// Replaces the buffer's colours with the filtered ones, as the plug-in's run with `seed` paints
// them, once `settings` pass the check against `limits`. Unless it is done, the buffer is as it
// was. The run uses `threads` threads (the caller's among them) and gives the same pixels for
// any number; runs on different threads do not disturb each other.
StippleResult StippleBuffer(const PixelBuffer& buffer, const StippleSettings& settings,
                            std::uint32_t seed, const StippleProgress& progress = {},
                            const SettingsLimits& limits = kDialogLimits, unsigned threads = 1,
                            const StippleRowsFinal& rowsFinal = {});

// The words of a failed call, as printf formats; the last two take the width and the height.
// Hosts with a translation pass theirs.
struct ResultWords {
    SettingsWords settings;
    const char* sizeRefused;
    const char* outOfMemory;
};
constexpr ResultWords kEnglishResultWords{kEnglishWords, "a %d x %d image cannot be filtered",
                                          "not enough memory to filter a %d x %d image"};

// The result in words for a host to show: "shape is 7, outside its range 0 to 5", "not enough
// memory to filter a 40000 x 30000 image". Empty when done.
std::string DescribeResult(const StippleResult& result,
                           const ResultWords& words = kEnglishResultWords);
