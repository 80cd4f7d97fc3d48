// Finds the stock program's main window once, at start-up, by its title, and records it in
// fxwindows.dat for the event procedure to reload.
#pragma once

#include <windows.h>

// The callback of the start-up enumeration of every window below the desktop: takes the first
// window whose title contains one of the stock program's titles, shows the found icon, writes
// the handle file and stops the enumeration.
BOOL CALLBACK matchStockWindow(HWND window, LPARAM unused);
