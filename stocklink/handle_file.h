// fxwindows.dat in the current directory: the stock program's main window, found at start-up
// and read back on every event, so that the handle outlives the run.
#pragma once

#include <windows.h>

constexpr const char* handleFileName = "fxwindows.dat";

// Reads bytes 0 to 3 into window; a missing file is created empty and gives 0. When the file
// cannot be opened (held by another program, or the directory refuses it), window keeps its value.
void readHandleFile(HWND& window);

// Replaces bytes 0 to 3 with the window's handle, creating the file when it is missing and
// leaving any later bytes as they are.
void writeHandleFile(HWND window);
