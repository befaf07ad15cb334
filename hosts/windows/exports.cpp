// The module's four exports: the top of the plug-in, where the host comes in.
#include <cstring>
#include <ctime>

#include "dialog/options_dialog.h"
#include "plugin/plugin.h"
#include "plugin/win32_host.h"

namespace {

HINSTANCE moduleInstance = nullptr;  // the options dialog finds its template through it

// "点画" (stippling) in code page 932, with its terminator.
constexpr char kTitle[] = "\x93\x5F\x89\xE6";

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    moduleInstance = instance;
    return TRUE;
}

int WINAPI FilterGetTitle(int, char* title, int* first, int* second) {
    std::memcpy(title, kTitle, sizeof kTitle);
    *first = 1;
    *second = 10;
    return 1;
}

int WINAPI FilterProc(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
                      const char* settingsDirectory) {
    // Each run draws a fresh pattern: the clock's whole seconds seed it.
    const auto seed = static_cast<std::uint32_t>(std::time(nullptr));
    return RunFilter(progress, size, writeRow, readRow, settingsDirectory, seed);
}

int WINAPI FilterOption(HWND parent, const char* settingsDirectory) {
    return ShowOptionsDialog(moduleInstance, parent, settingsDirectory);
}
