// The page's entry into the filter: one C function the worker calls on an RGBA buffer it put in
// this module's memory. Everything else is the embedding API, the same run every host gets.
#include <emscripten/emscripten.h>

#include <cstdint>

#include "embed/stipple_buffer.h"
#include "settings/settings.h"

namespace {

// The ranges the options dialog offers; anything else is refused rather than run.
bool InRange(int value, int lowest, int highest) { return value >= lowest && value <= highest; }

}  // namespace

// Progress goes straight to the worker's script, which decides how often to pass it on.
EM_JS(void, ReportProgress, (int percent), {
    if (Module["onProgress"]) Module["onProgress"](percent);
});

extern "C" {

// Filters `width` x `height` RGBA pixels in place (alpha is left as it is) with the five settings
// and the seed. 1 when done; 0 when a setting is out of range or the run could not be made (too
// little memory); the pixels are then unchanged.
EMSCRIPTEN_KEEPALIVE int moxel_stipple(std::uint8_t* rgba, int width, int height, int shape,
                                       int density, int minSize, int maxSize, int white,
                                       std::uint32_t seed) {
    if (rgba == nullptr || width <= 0 || height <= 0 || !InRange(shape, Circle, Star) ||
        !InRange(density, kDensityLowest, kDensityHighest) ||
        !InRange(minSize, kSizeLowest, kSizeHighest) ||
        !InRange(maxSize, kSizeLowest, kSizeHighest) || minSize > maxSize ||
        (white != 0 && white != 1)) {
        return 0;
    }
    // The row stride is width * 4 in bytes: past 2^31 it would not fit wasm32's ptrdiff_t, but
    // such a buffer could not be in this module's memory in the first place.
    const PixelBuffer buffer{
        .pixels = rgba, .width = width, .height = height, .layout = PixelLayout::Rgba};
    const StippleSettings settings{.clearFirst = white,
                                   .minSize = minSize,
                                   .maxSize = maxSize,
                                   .density = density,
                                   .shape = shape};
    const bool done =
        StippleBuffer(buffer, settings, seed, [](int percent) { ReportProgress(percent); });
    return done ? 1 : 0;
}

}  // extern "C"
