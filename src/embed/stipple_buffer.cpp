#include "embed/stipple_buffer.h"

#include <cstring>

#include "plugin/plugin.h"
#include "render/filter_run.h"
#include "standin/host_window.h"

namespace {

// The run calls back without a context, so each thread keeps the buffer it is filtering. The run
// reads every row before it writes any, so the result can go straight back into the same pixels.
struct Job {
    const PixelBuffer* buffer;
    std::ptrdiff_t rowStride;
    int bytesPerPixel;
    const StippleProgress* progress;
};
thread_local const Job* currentJob = nullptr;

std::uint8_t* PixelsAt(int row, int column) {
    const Job& job = *currentJob;
    return job.buffer->pixels + row * job.rowStride +
           static_cast<std::ptrdiff_t>(column) * job.bytesPerPixel;
}

// Moves `count` pixels between the buffer and the run's blue, green, red bytes.
void Convert(std::uint8_t* to, int toStep, const std::uint8_t* from, int fromStep, int count) {
    for (int i = 0; i < count; ++i, to += toStep, from += fromStep) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}

int WINAPI ReadPixels(int row, int first, int last, BYTE* run, int) {
    if (last < first) return 1;
    const std::uint8_t* pixels = PixelsAt(row, first);
    const int count = last - first + 1;
    if (currentJob->buffer->layout == PixelLayout::Bgr) {
        std::memcpy(run, pixels, count * 3u);
    } else {
        Convert(run, 3, pixels, currentJob->bytesPerPixel, count);
    }
    return 1;
}

int WINAPI WritePixels(int row, int first, int last, BYTE* run, int) {
    if (last < first) return 1;
    std::uint8_t* pixels = PixelsAt(row, first);
    const int count = last - first + 1;
    if (currentJob->buffer->layout == PixelLayout::Bgr) {
        std::memcpy(pixels, run, count * 3u);
    } else {
        Convert(pixels, currentJob->bytesPerPixel, run, 3, count);
    }
    return 1;
}

LRESULT CALLBACK ProgressWindow(HWND, UINT message, WPARAM code, LPARAM value) {
    const StippleProgress& progress = *currentJob->progress;
    if (message == WM_USER && progress) {
        progress(code == PROGRESS_DONE ? 100 : static_cast<int>(value));
    }
    return 0;
}

}  // namespace

bool StippleBuffer(const PixelBuffer& buffer, const StippleSettings& settings, std::uint32_t seed,
                   const StippleProgress& progress) {
    const int bytesPerPixel = buffer.layout == PixelLayout::Rgba ? 4 : 3;
    const std::ptrdiff_t rowStride =
        buffer.rowStride != 0 ? buffer.rowStride
                              : static_cast<std::ptrdiff_t>(buffer.width) * bytesPerPixel;
    const Job job{&buffer, rowStride, bytesPerPixel, &progress};
    const Job* outer = currentJob;
    currentJob = &job;
    StandinWindow window{.procedure = &ProgressWindow};
    const ImageSize size{buffer.width, buffer.height};
    RowProc reader = &ReadPixels;
    RowProc writer = &WritePixels;
    const int result = RunFilterWith(settings, &window, &size, &writer, &reader, seed);
    currentJob = outer;
    return result == 1;
}
