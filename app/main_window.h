// Start-up and the main window: a small, always-on-top dialog with the code entry, the query
// button, the mode options, the status icons and the period toolbar.
#pragma once

#include <windows.h>

// The main dialog, set as soon as it is created and never changed.
extern HWND mainWindow;
// The parent of the one-time window enumeration that finds the stock program.
extern HWND desktopWindow;

// Control IDs of the main window; it has these and no others.
constexpr int periodToolbarId = 1001;
constexpr int codeLabelId = 1016;
constexpr int queryButtonId = 1018;
constexpr int adjustLabelId = 1019;
constexpr int boltIconId = 1020;
constexpr int terminalIconId = 1022;
constexpr int terminalLabelId = 1023;
constexpr int stockLabelId = 1024;
constexpr int stockIconId = 1025;
constexpr int adjustCheckId = 1026;
constexpr int codeComboId = 1027;
constexpr int singleOptionId = 1028;
constexpr int multiOptionId = 1029;
constexpr int noticeLabelId = 1030;

// The program title: the main window's caption, and the start of it once the terminal is watched.
constexpr char programTitle[] = "Talvero";

// The recent-codes file, read here at start-up and rewritten by each completed query.
constexpr const char* recentCodesFileName = "DAIMA.DAT";

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
