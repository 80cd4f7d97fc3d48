// Finds the stock program's main window by its title and records it in fxwindows.dat, for the
// event procedure to reload: once at start-up, and again whenever the recorded window has gone.
#pragma once

#include <windows.h>

// The callback of the enumeration of every window below the desktop: takes the first window
// whose title contains one of the stock program's titles, shows the found icon, writes the
// handle file and stops the enumeration.
BOOL CALLBACK matchStockWindow(HWND window, LPARAM unused);

// Makes stockWindow name a live window where one can be had. A window that the handle file names
// is used as it is while it exists, whoever wrote it; when the file names none, or one that has
// gone (the stock program was closed, restarted or started after the tool), the stock program is
// searched for again and what is found is recorded in the file. Returns whether stockWindow is
// a live window.
bool refreshStockWindow();

// For each status tick: reloads the handle file, refreshes the window as above and shows on the
// stock program's status icon whether it is there.
void watchStockWindow();

// Forgets the window the last search took.
void resetDiscoveryState();
