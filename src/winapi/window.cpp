// Messages to windows: a window here is a record holding its procedure (see host_window.h).
#include "standin/host_window.h"

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || window->procedure == nullptr) return 0;
    return window->procedure(window, message, wParam, lParam);
}
