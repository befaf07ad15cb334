// The page's entry into the filter: a few C functions its scripts call. The worker runs the filter
// on an RGBA buffer it put in this module's memory; the page asks the settings contract (limits,
// defaults, names, the check and the sizes' order) so that it keeps no copy of its own.
// Everything else is the embedding API, the same run every host gets.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>

#include "embed/stipple_buffer.h"
#include "embed/stipple_svg.h"
#include "settings/contract.h"

namespace {

// The words of this instance's last run, and its last SVG document; an instance serves one
// caller, one run at a time.
std::string lastRunWords;
std::string lastSvg;

StippleSettings Settings(int shape, int density, int minSize, int maxSize, int white) {
    return {.clearFirst = white,
            .minSize = minSize,
            .maxSize = maxSize,
            .density = density,
            .shape = shape};
}

}  // namespace

// Progress goes straight to the worker's script, which decides how often to pass it on.
EM_JS(void, ReportProgress, (int percent), {
    if (Module["onProgress"]) Module["onProgress"](percent);
});

extern "C" {

// Filters `width` x `height` RGBA pixels in place (alpha is left as it is) with the five settings
// and the seed, held to the options dialog's limits. Returns the StippleStatus: 0 when done;
// otherwise the pixels are unchanged and moxel_describe says why.
EMSCRIPTEN_KEEPALIVE int moxel_stipple(std::uint8_t* rgba, int width, int height, int shape,
                                       int density, int minSize, int maxSize, int white,
                                       std::uint32_t seed) {
    // The row stride is width * 4 in bytes: past 2^31 it would not fit wasm32's ptrdiff_t, but
    // such a buffer could not be in this module's memory in the first place.
    const PixelBuffer buffer{
        .pixels = rgba, .width = width, .height = height, .layout = PixelLayout::Rgba};
    const StippleResult result =
        StippleBuffer(buffer, Settings(shape, density, minSize, maxSize, white), seed,
                      [](int percent) { ReportProgress(percent); });
    lastRunWords = DescribeResult(result);
    return static_cast<int>(result.status);
}

// The run's shapes over `width` x `height` RGBA pixels, which are only read, as an SVG document:
// over the picture `pictureHref` names (a data: URI) when the run paints over it, over white
// when it paints on white. Returns the StippleStatus like moxel_stipple; once done,
// moxel_svg_text and moxel_svg_length give the document's UTF-8 bytes.
EMSCRIPTEN_KEEPALIVE int moxel_svg(std::uint8_t* rgba, int width, int height, int shape,
                                   int density, int minSize, int maxSize, int white,
                                   std::uint32_t seed, const char* pictureHref) {
    const PixelBuffer source{
        .pixels = rgba, .width = width, .height = height, .layout = PixelLayout::Rgba};
    const StippleResult result =
        StippleSvg(source, Settings(shape, density, minSize, maxSize, white), seed,
                   SvgOptions{.background = true, .pictureHref = pictureHref}, lastSvg);
    lastRunWords = DescribeResult(result);
    if (!result.done()) std::string().swap(lastSvg);
    return static_cast<int>(result.status);
}

EMSCRIPTEN_KEEPALIVE const char* moxel_svg_text() { return lastSvg.data(); }

EMSCRIPTEN_KEEPALIVE std::size_t moxel_svg_length() { return lastSvg.size(); }

// The last run's result in words; empty when it was done.
EMSCRIPTEN_KEEPALIVE const char* moxel_describe() { return lastRunWords.c_str(); }

// Why the options dialog would refuse these settings, in the words of every host; empty when it
// would take them.
EMSCRIPTEN_KEEPALIVE const char* moxel_check(int shape, int density, int minSize, int maxSize,
                                             int white) {
    static std::string words;
    const std::optional<SettingsFault> fault =
        CheckSettings(Settings(shape, density, minSize, maxSize, white), kDialogLimits);
    words = fault ? DescribeFault(*fault) : std::string();
    return words.c_str();
}

// The size the other size control must show once `moved` (a place in the contract's fields, as
// moxel_contract lists them: min-size or max-size) has moved to its value.
EMSCRIPTEN_KEEPALIVE int moxel_other_size(int minSize, int maxSize, int moved) {
    StippleSettings settings = Settings(Circle, 0, minSize, maxSize, 0);
    const auto field = static_cast<SettingField>(moved);
    KeepSizesInOrder(settings, field);
    return field == SettingField::MinSize ? settings.maxSize : settings.minSize;
}

// The contract as JSON for the page's controls: {"fields": [{"name", "lowest", "highest",
// "default"}, ...] in file order, "shapes": [names in ShapeKind order], "seed": {"lowest",
// "highest"}}.
EMSCRIPTEN_KEEPALIVE const char* moxel_contract() {
    static const std::string json = [] {
        std::string text = "{\"fields\":[";
        for (const SettingInfo& info : kSettingFields) {
            const SettingRange range = RangeOf(info.field, kDialogLimits);
            if (text.back() != '[') text += ',';
            text += "{\"name\":\"" + std::string(info.name) +
                    "\",\"lowest\":" + std::to_string(range.lowest) +
                    ",\"highest\":" + std::to_string(range.highest) +
                    ",\"default\":" + std::to_string(kDefaultSettings.*info.member) + '}';
        }
        text += "],\"shapes\":[";
        for (const char* name : kShapeNames) {
            if (text.back() != '[') text += ',';
            text += '"' + std::string(name) + '"';
        }
        return text + "],\"seed\":{\"lowest\":" + std::to_string(kSeedRange.lowest) +
               ",\"highest\":" + std::to_string(kSeedRange.highest) + "}}";
    }();
    return json.c_str();
}

}  // extern "C"
