#include "base/other_window.h"

void postCommand(HWND window, WPARAM command) {
    if (window)
        PostMessageA(window, WM_COMMAND, command, 0);
}

void bringToTop(HWND window) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
}

void showWindow(HWND window, int showCommand) {
    ShowWindowAsync(window, showCommand);
}
