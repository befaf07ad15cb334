// Opens the options dialog the way a host does, and leaves it up until someone closes it: for
// looking at the real dialog (scripts/screenshot-dialog.sh photographs it).
//
// Usage: show_dialog [settings directory, ending in a separator]. Without one, the settings file
// is "moxel5.dat" in the current directory.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    const HMODULE module = LoadLibraryA("MOXEL.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load MOXEL.dll\n");
        return 1;
    }
    using FilterOptionFn = int(WINAPI*)(HWND, const char*);
    const auto filterOption = reinterpret_cast<FilterOptionFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FilterOption")));
    if (filterOption == nullptr) {
        std::fprintf(stderr, "MOXEL.dll exports no FilterOption\n");
        return 1;
    }
    filterOption(nullptr, argc > 1 ? argv[1] : "");
    FreeLibrary(module);
    return 0;
}
