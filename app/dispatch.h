// The main window's event procedure: reloads the stock program's window from fxwindows.dat on
// every message, keeps the focus across deactivation, stores the control mode and routes the
// buttons to their handlers.
#pragma once

#include "base/state.h"

#include <windows.h>

// The control that had the focus when the main window was last deactivated.
extern HWND savedFocus;
void resetDispatchState();

INT_PTR CALLBACK dispatchMainWindowEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
