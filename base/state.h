// The process-wide state that the shell, the stock-program link and the terminal link all read,
// and the control IDs of the main window that they address.
#pragma once

#include "base/fixed_text.h"

#include <windows.h>

// The main dialog, set as soon as it is created and never changed.
extern HWND mainWindow;
// The parent of the window enumerations that find the stock program.
extern HWND desktopWindow;
// The stock program's main window, as fxwindows.dat held it when the current message arrived.
extern HWND stockWindow;
// "dan" (single control), "duo" (multi control), or empty until an option is first clicked.
extern FixedText<4> controlMode;
// Forgets all of the above, as before start-up.
void resetSharedState();

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
