// Start-up and the main window: a small, always-on-top dialog with the code entry, the query
// button, the mode options, the status icons and the period toolbar.
#pragma once

#include "base/state.h"

#include <windows.h>

// Initialises the common controls through COMCTL32.DLL (skipped when it cannot be loaded).
void initCommonControls();

// Builds the main window (hidden), runs it until the user closes it and returns 0.
int runMainWindow(HWND owner);

// The steps of runMainWindow, for the tests that drive the window inside their own process:
// builds the hidden window with its controls, list, toolbar, terminal search, stock-program
// discovery and timer; then attaches the event procedure and shows the window; then pumps
// messages until the window has been destroyed.
HWND buildMainWindow(HWND owner);
void attachAndShowMainWindow();
void runMainWindowLoop();
