#include "embed/stipple_buffer.h"

#include <cstdio>

#include "embed/buffer_host.h"
#include "render/band_run.h"

namespace {

StippleStatus StatusOf(RunStatus status) {
    switch (status) {
        case RunStatus::Done:
            break;
        case RunStatus::SizeRefused:
            return StippleStatus::SizeRefused;
        case RunStatus::OutOfMemory:
            return StippleStatus::OutOfMemory;
    }
    return StippleStatus::Done;
}

}  // namespace

StippleResult StippleBuffer(const PixelBuffer& buffer, const StippleSettings& settings,
                            std::uint32_t seed, const StippleProgress& progress,
                            const SettingsLimits& limits, unsigned threads,
                            const StippleRowsFinal& rowsFinal) {
    StippleResult result = CheckCall(buffer, settings, limits);
    if (!result.done() || buffer.width == 0 || buffer.height == 0) return result;
    BufferHost host(buffer, progress, &rowsFinal);
    result.status = StatusOf(
        RunStippleInBands(settings, {buffer.width, buffer.height}, host.host(), seed, threads));
    return result;
}

std::string DescribeResult(const StippleResult& result, const ResultWords& words) {
    const char* format = words.outOfMemory;
    switch (result.status) {
        case StippleStatus::Done:
            return {};
        case StippleStatus::BadSetting:
            return DescribeFault(result.fault, words.settings);
        case StippleStatus::SizeRefused:
            format = words.sizeRefused;
            break;
        case StippleStatus::OutOfMemory:
            break;
    }
    char text[160];
    std::snprintf(text, sizeof text, format, result.width, result.height);
    return text;
}
