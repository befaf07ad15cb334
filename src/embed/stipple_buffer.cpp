#include "embed/stipple_buffer.h"

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
                            const SettingsLimits& limits, unsigned threads) {
    StippleResult result = CheckCall(buffer, settings, limits);
    if (!result.done() || buffer.width == 0 || buffer.height == 0) return result;
    BufferHost host(buffer, progress);
    result.status = StatusOf(
        RunStippleInBands(settings, {buffer.width, buffer.height}, host.host(), seed, threads));
    return result;
}

std::string DescribeResult(const StippleResult& result) {
    const std::string size = std::to_string(result.width) + " x " + std::to_string(result.height);
    switch (result.status) {
        case StippleStatus::Done:
            return {};
        case StippleStatus::BadSetting:
            return DescribeFault(result.fault);
        case StippleStatus::SizeRefused:
            return "a " + size + " image cannot be filtered";
        case StippleStatus::OutOfMemory:
            break;
    }
    return "not enough memory to filter a " + size + " image";
}
