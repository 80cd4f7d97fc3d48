// Finds the stock program's main window by its title and records it in fxwindows.dat, for the
// event procedure to reload: once at start-up, and again whenever the recorded window has gone.
#pragma once

#include <windows.h>

// The callback of the enumeration of every window below the desktop: takes the first window
// whose title contains one of the stock program's titles, shows the found icon, writes the
// handle file and stops the enumeration. A found of other than 0 points to the HWND that gets the
// window, so that a search learns what it took even when the file could not record it.
BOOL CALLBACK matchStockWindow(HWND window, LPARAM found);

// Makes stockWindow name a live window where one can be had. A window that the handle file names
// is used as it is while it exists, whoever wrote it; when the file names none, or one that has
// gone (the stock program was closed, restarted or started after the tool), the stock program is
// searched for again and what is found is recorded in the file. Returns whether stockWindow is
// a live window.
bool refreshStockWindow();

// For each status tick: reloads the handle file, refreshes the window as above and shows on the
// stock program's status icon whether it is there.
void watchStockWindow();
