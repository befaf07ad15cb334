#include "embed/stipple_buffer.h"

#include <cstring>

#include "render/band_run.h"

namespace {

// The run's host over the caller's buffer. Each band's rows are read before they are written, and
// every colour is read before any row is written, so the result can go straight back into the
// same pixels; threads touch rows of their own bands only.
struct BufferHost {
    const PixelBuffer& buffer;
    std::ptrdiff_t rowStride;
    int bytesPerPixel;
    const StippleProgress& progress;

    std::uint8_t* At(int row, int column) const {
        return buffer.pixels + row * rowStride +
               static_cast<std::ptrdiff_t>(column) * bytesPerPixel;
    }
};

// Moves `count` pixels between red, green, blue order and the run's blue, green, red.
void Convert(std::uint8_t* to, int toStep, const std::uint8_t* from, int fromStep, int count) {
    for (int i = 0; i < count; ++i, to += toStep, from += fromStep) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}

void ReadRow(void* context, int row, int first, int last, BYTE* run) {
    const auto& host = *static_cast<const BufferHost*>(context);
    const int count = last - first + 1;
    if (host.buffer.layout == PixelLayout::Bgr) {
        std::memcpy(run, host.At(row, first), count * 3u);
    } else {
        Convert(run, 3, host.At(row, first), host.bytesPerPixel, count);
    }
}

void WriteRow(void* context, int row, int first, int last, BYTE* run) {
    const auto& host = *static_cast<const BufferHost*>(context);
    const int count = last - first + 1;
    if (host.buffer.layout == PixelLayout::Bgr) {
        std::memcpy(host.At(row, first), run, count * 3u);
    } else {
        Convert(host.At(row, first), host.bytesPerPixel, run, 3, count);
    }
}

void Progress(void* context, int percent) {
    const auto& host = *static_cast<const BufferHost*>(context);
    if (host.progress) host.progress(percent);
}

}  // namespace

StippleResult StippleBuffer(const PixelBuffer& buffer, const StippleSettings& settings,
                            std::uint32_t seed, const StippleProgress& progress,
                            const SettingsLimits& limits, unsigned threads) {
    StippleResult result{StippleStatus::Done, {}, buffer.width, buffer.height};
    if (const std::optional<SettingsFault> fault = CheckSettings(settings, limits)) {
        result.status = StippleStatus::BadSetting;
        result.fault = *fault;
        return result;
    }
    if (buffer.width == 0 || buffer.height == 0) return result;  // nothing to filter
    if (buffer.pixels == nullptr) {
        result.status = StippleStatus::SizeRefused;
        return result;
    }
    const int bytesPerPixel = buffer.layout == PixelLayout::Rgba ? 4 : 3;
    const std::ptrdiff_t rowStride =
        buffer.rowStride != 0 ? buffer.rowStride
                              : static_cast<std::ptrdiff_t>(buffer.width) * bytesPerPixel;
    BufferHost context{buffer, rowStride, bytesPerPixel, progress};
    const StippleHost host{&context, &ReadRow, &WriteRow, &Progress};
    switch (RunStippleInBands(settings, {buffer.width, buffer.height}, host, seed, threads)) {
        case RunStatus::Done:
            break;
        case RunStatus::SizeRefused:
            result.status = StippleStatus::SizeRefused;
            break;
        case RunStatus::OutOfMemory:
            result.status = StippleStatus::OutOfMemory;
            break;
    }
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
