// The main window's event procedure: reloads the stock program's window from fxwindows.dat on
// every message, keeps the focus across deactivation, stores the control mode and routes the
// buttons to their handlers.
#pragma once

#include "app/fixed_text.h"

#include <windows.h>

// The stock program's main window, as fxwindows.dat held it when the current message arrived.
extern HWND stockWindow;
// The control that had the focus when the main window was last deactivated.
extern HWND savedFocus;
// "dan" (single control), "duo" (multi control), or empty until an option is first clicked.
extern FixedText<4> controlMode;

INT_PTR CALLBACK dispatchMainWindowEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
