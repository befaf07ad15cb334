// The host interface: what crosses between a host application and the plug-in.
#pragma once

#include <windows.h>

// The host's image record; the plug-in reads only its first two fields and never writes it.
struct ImageSize {
    LONG width;
    LONG height;
};

// A host callback that moves the pixels firstColumn..lastColumn (inclusive) of one image row
// between the image and `buffer`, 3 bytes a pixel in the order blue, green, red. `flag` is
// always -1. The result is not used.
typedef int(WINAPI* RowProc)(int row, int firstColumn, int lastColumn, BYTE* buffer, int flag);

// wParam of the WM_USER progress message sent to the host's window.
constexpr WPARAM PROGRESS_PERCENT = 3;  // lParam: percentage done, 0..99
constexpr WPARAM PROGRESS_DONE = 0;     // lParam: 0; sent once at the end of a complete run

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
int WINAPI FilterGetTitle(int unused, char* title, int* first, int* second);
// writeRow and readRow are locations that hold the callbacks, fetched afresh at every call.
int WINAPI FilterProc(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
                      const char* settingsDirectory);
int WINAPI FilterOption(HWND parent, const char* settingsDirectory);
}
