// What a Linux host hands the plug-in as a window: a record holding a window procedure.
// SendMessageA calls the procedure with the record as its window handle, so a host can keep its
// own state next to the record (or behind `user`).
#pragma once

#include <windows.h>

struct StandinWindow {
    WNDPROC procedure = nullptr;
    void* user = nullptr;
};
