// The module's four exports, as a paint application calls them. The records and callbacks they
// take are the run's (render/host.h).
#pragma once

#include <windows.h>

#include "render/host.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
int WINAPI FilterGetTitle(int unused, char* title, int* first, int* second);
// writeRow and readRow are locations that hold the callbacks, fetched afresh at every call.
int WINAPI FilterProc(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
                      const char* settingsDirectory);
int WINAPI FilterOption(HWND parent, const char* settingsDirectory);
}
