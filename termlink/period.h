// Period switching: each period button posts the stock program that period's command and raises
// the terminal's offline chart of the period; the adjustment check box posts a pair of commands.
#pragma once

#include <windows.h>

struct PeriodRow {
    const char* toolbarText;
    int controlId;
    // The period's own offline chart, raised in multi control.
    const char* multiChartTitle;
    // The stock program's menu command for the period.
    WPARAM command;
};

// One row per toolbar button, from the left.
constexpr int periodCount = 9;
extern const PeriodRow periodTable[periodCount];

// The one offline chart that serves every period in single control.
extern const char* const singleChartTitle;

// The last period press and check-box click.
extern const char* periodChartTitle;
extern HWND periodChartWindow;
extern int adjustCheckState;
void resetPeriodState();

// True for the notification codes that the handlers act on: a click or menu choice (0) and an
// accelerator (1).
inline bool isClickOrAccelerator(int notificationCode) {
    return notificationCode == 0 || notificationCode == 1;
}

void handlePeriodButton(int controlId, int notificationCode);
void handleAdjustCheck(HWND dialog, int notificationCode);
