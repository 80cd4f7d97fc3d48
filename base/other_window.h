// Calls on the other programs' windows that return at once, whether or not that program is
// answering: a hung stock program or terminal must never freeze the tool.
#pragma once

#include <windows.h>

// Posts a WM_COMMAND with the command ID (a menu choice). A window of 0 is skipped: the post
// would otherwise land in the tool's own thread queue.
void postCommand(HWND window, WPARAM command);

// BringWindowToTop without waiting for the window's thread: the same move to the top of the Z
// order (and activation), handed to that thread's queue.
void bringToTop(HWND window);

// ShowWindow without waiting for the window's thread.
void showWindow(HWND window, int showCommand);
