#include "plugin/win32_host.h"

#include "render/filter_run.h"

namespace {

// What the application handed FilterProc. The callbacks are fetched from their locations at
// every call, as the application may change them between calls.
struct Win32Host {
    HWND progress;
    RowProc* writeRow;
    RowProc* readRow;
};

void ReadRow(void* context, int row, int first, int last, BYTE* pixels) {
    (*static_cast<Win32Host*>(context)->readRow)(row, first, last, pixels, -1);
}

void WriteRow(void* context, int row, int first, int last, BYTE* pixels) {
    (*static_cast<Win32Host*>(context)->writeRow)(row, first, last, pixels, -1);
}

void Progress(void* context, int percent) {
    HWND window = static_cast<Win32Host*>(context)->progress;
    if (percent == kProgressDone) {
        SendMessageA(window, WM_USER, PROGRESS_DONE, 0);
    } else {
        SendMessageA(window, WM_USER, PROGRESS_PERCENT, percent);
    }
}

}  // namespace

int RunFilter(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
              const char* settingsDirectory, std::uint32_t seed) {
    LoadSettings(settingsDirectory);
    return RunFilterWith(gSettings, progress, size, writeRow, readRow, seed);
}

int RunFilterWith(const StippleSettings& settings, HWND progress, const ImageSize* size,
                  RowProc* writeRow, RowProc* readRow, std::uint32_t seed) {
    Win32Host application{progress, writeRow, readRow};
    const StippleHost host{&application, &ReadRow, &WriteRow, &Progress};
    return RunStipple(settings, *size, host, seed) == RunStatus::Done ? 1 : 0;
}
