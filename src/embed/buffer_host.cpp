#include "embed/buffer_host.h"

#include <cstring>

namespace {

// Moves `count` pixels between red, green, blue order and the run's blue, green, red.
void Convert(std::uint8_t* to, int toStep, const std::uint8_t* from, int fromStep, int count) {
    for (int i = 0; i < count; ++i, to += toStep, from += fromStep) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}

}  // namespace

BufferHost::BufferHost(const PixelBuffer& buffer, const StippleProgress& progress,
                       const StippleRowsFinal* rowsFinal)
    : buffer_(buffer),
      progress_(progress),
      rowsFinal_(rowsFinal),
      bytesPerPixel_(buffer.layout == PixelLayout::Rgba ? 4 : 3),
      rowStride_(buffer.rowStride != 0
                     ? buffer.rowStride
                     : static_cast<std::ptrdiff_t>(buffer.width) * bytesPerPixel_) {}

// Three-byte pixels can be drawn on where they are; four-byte ones go through rows of three.
HostRows BufferHost::Rows() const {
    if (buffer_.layout == PixelLayout::Rgba || buffer_.pixels == nullptr) return {};
    return {buffer_.pixels, rowStride_, buffer_.layout == PixelLayout::Rgb};
}

void BufferHost::ReadRow(void* context, int row, int first, int last, BYTE* run) {
    const auto& self = *static_cast<const BufferHost*>(context);
    const int count = last - first + 1;
    if (self.buffer_.layout == PixelLayout::Bgr) {
        std::memcpy(run, self.At(row, first), count * 3u);
    } else {
        Convert(run, 3, self.At(row, first), self.bytesPerPixel_, count);
    }
}

void BufferHost::WriteRow(void* context, int row, int first, int last, BYTE* run) {
    const auto& self = *static_cast<const BufferHost*>(context);
    const int count = last - first + 1;
    if (self.buffer_.layout == PixelLayout::Bgr) {
        std::memcpy(self.At(row, first), run, count * 3u);
    } else {
        Convert(self.At(row, first), self.bytesPerPixel_, run, 3, count);
    }
}

void BufferHost::Progress(void* context, int percent) {
    const auto& self = *static_cast<const BufferHost*>(context);
    if (self.progress_) self.progress_(percent);
}

void BufferHost::RowsFinal(void* context, int rows) {
    (*static_cast<const BufferHost*>(context)->rowsFinal_)(rows);
}

StippleResult CheckCall(const PixelBuffer& buffer, const StippleSettings& settings,
                        const SettingsLimits& limits) {
    StippleResult result{StippleStatus::Done, {}, buffer.width, buffer.height};
    if (const std::optional<SettingsFault> fault = CheckSettings(settings, limits)) {
        result.status = StippleStatus::BadSetting;
        result.fault = *fault;
    } else if (buffer.width < 0 || buffer.height < 0 ||
               (buffer.pixels == nullptr && buffer.width > 0 && buffer.height > 0)) {
        result.status = StippleStatus::SizeRefused;
    }
    return result;
}
