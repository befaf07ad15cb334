#include "stipple_image.h"

#include <cstring>

#include "host_window.h"
#include "plugin/plugin.h"
#include "render/filter_run.h"

namespace {

// The run calls back without a context, so each thread keeps the image it is filtering. The run
// reads every row before it writes any, so the result can go straight back into the same pixels.
struct Job {
    Image* image;
    const ProgressCallback* progress;
};
thread_local Job* currentJob = nullptr;

BYTE* PixelsAt(int row, int column) {
    Image& image = *currentJob->image;
    return image.pixels.data() + (static_cast<std::size_t>(row) * image.width + column) * 3;
}

int WINAPI ReadPixels(int row, int first, int last, BYTE* buffer, int) {
    if (last >= first) std::memcpy(buffer, PixelsAt(row, first), (last - first + 1) * 3u);
    return 1;
}

int WINAPI WritePixels(int row, int first, int last, BYTE* buffer, int) {
    if (last >= first) std::memcpy(PixelsAt(row, first), buffer, (last - first + 1) * 3u);
    return 1;
}

LRESULT CALLBACK ProgressWindow(HWND, UINT message, WPARAM code, LPARAM value) {
    const ProgressCallback& progress = *currentJob->progress;
    if (message == WM_USER && progress) {
        progress(code == PROGRESS_DONE ? 100 : static_cast<int>(value));
    }
    return 0;
}

}  // namespace

bool StippleImage(Image& image, const StippleSettings& settings, std::uint32_t seed,
                  const ProgressCallback& progress) {
    Job job{&image, &progress};
    currentJob = &job;
    StandinWindow window{.procedure = &ProgressWindow};
    const ImageSize size{image.width, image.height};
    RowProc reader = &ReadPixels;
    RowProc writer = &WritePixels;
    const int result = RunFilterWith(settings, &window, &size, &writer, &reader, seed);
    currentJob = nullptr;
    return result == 1;
}
