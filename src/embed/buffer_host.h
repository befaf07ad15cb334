// The run's host over a caller's pixel buffer: how the embedding API's calls read and write the
// pixels they are handed. Not for hosts: they call stipple_buffer.h and stipple_svg.h.
#pragma once

#include <cstddef>

#include "embed/stipple_buffer.h"
#include "render/host.h"

// Each band's rows are read before they are written, and every colour before any row is written,
// so the result can go straight back into the same pixels; threads touch rows of their own bands
// only.
class BufferHost {
public:
    BufferHost(const PixelBuffer& buffer, const StippleProgress& progress,
               const StippleRowsFinal* rowsFinal = nullptr);

    StippleHost host() {
        return {this,      &ReadRow, &WriteRow,
                &Progress, Rows(),   rowsFinal_ != nullptr && *rowsFinal_ ? &RowsFinal : nullptr};
    }

private:
    std::uint8_t* At(int row, int column) const {
        return buffer_.pixels + row * rowStride_ +
               static_cast<std::ptrdiff_t>(column) * bytesPerPixel_;
    }
    HostRows Rows() const;
    static void ReadRow(void* context, int row, int first, int last, BYTE* run);
    static void WriteRow(void* context, int row, int first, int last, BYTE* run);
    static void Progress(void* context, int percent);
    static void RowsFinal(void* context, int rows);

    const PixelBuffer& buffer_;
    const StippleProgress& progress_;
    const StippleRowsFinal* rowsFinal_;
    int bytesPerPixel_;
    std::ptrdiff_t rowStride_;
};

// What every call checks first: the settings against the limits, then the buffer. Done when the
// call may go on to the run.
StippleResult CheckCall(const PixelBuffer& buffer, const StippleSettings& settings,
                        const SettingsLimits& limits);
