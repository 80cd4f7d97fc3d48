// The terminal status timer: every two seconds it finds the terminal afresh, posts it its
// refresh command, shows the terminal's active chart in the tool's caption and blinks the
// terminal status icon while that chart's view is found.
#pragma once

#include "termlink/caption.h"

#include <windows.h>

constexpr UINT_PTR statusTimerId = 1;
constexpr UINT statusTimerInterval = 2000;

// The terminal's main window (0 when it is not running).
extern HWND terminalWindow;

// The last tick's findings.
extern ChartTitle activeChartTitle;
extern HWND activeChartWindow;
extern HWND activeChartView;

// Looks for the terminal's main window, whatever its title, and keeps it in terminalWindow.
void findTerminal();

// The chart window of that title under the terminal's MDI client, or 0.
HWND findTerminalChart(const char* title);

// Forgets the terminal and the last tick's findings, as before the first tick.
void resetStatusTimerState();

void CALLBACK handleStatusTimer(HWND window, UINT message, UINT_PTR timerId, DWORD time);
