#include "termlink/period.h"

#include "base/state.h"
#include "base/other_window.h"
#include "termlink/status_timer.h"

// Chart titles are the symbol 国内A股, a comma, the period name and " (offline)", in GBK.
// clang-format off
const PeriodRow periodTable[periodCount] = {
    {"M1", 1002, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,M1 (offline)", 32873},
    {"M5", 1003, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,M5 (offline)", 32874},
    {"M15", 1004, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,M15 (offline)", 32875},
    {"M30", 1005, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,M30 (offline)", 32876},
    {"M60", 1006, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,H1 (offline)", 32877},
    {"M240", 1007, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,H4 (offline)", 33284},
    {"\xC8\xD5\xCF\xDF", 1008, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,Daily (offline)", 32878}, // 日线
    {"\xD6\xDC\xCF\xDF", 1009, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,Weekly (offline)", 32879}, // 周线
    {"\xD4\xC2\xCF\xDF", 1010, "\xB9\xFA\xC4\xDA\x41\xB9\xC9,Monthly (offline)", 32880}, // 月线
};
// clang-format on

const char* const singleChartTitle = "\xB9\xFA\xC4\xDA\x41\xB9\xC9,M417 (offline)";

const char* periodChartTitle = "";
HWND periodChartWindow = nullptr;
int adjustCheckState = 0;

void resetPeriodState() {
    periodChartTitle = "";
    periodChartWindow = nullptr;
    adjustCheckState = 0;
}

namespace {

// SW_SHOWNOACTIVATE with the bit 0x1000000 that the terminal's charts have always been shown with.
constexpr int chartShowCommand = 0x1000004;
// The adjustment check box posts these two, in this order, on every click.
constexpr WPARAM adjustCommands[] = {32806, 33052};

const PeriodRow* findPeriodRow(int controlId) {
    for (const PeriodRow& row : periodTable) {
        if (row.controlId == controlId)
            return &row;
    }
    return nullptr;
}

} // namespace

void handlePeriodButton(int controlId, int notificationCode) {
    const PeriodRow* row = findPeriodRow(controlId);
    if (!row || !isClickOrAccelerator(notificationCode))
        return;
    periodChartTitle = controlMode.equals("duo") ? row->multiChartTitle : singleChartTitle;
    // The status tick finds the terminal every two seconds; one started or closed since then is
    // seen at once.
    if (!terminalWindow || !IsWindow(terminalWindow))
        findTerminal();
    periodChartWindow = findTerminalChart(periodChartTitle);
    // The stock program is told first; it switches while the chart is being raised.
    postCommand(stockWindow, row->command);
    bringToTop(periodChartWindow);
    showWindow(periodChartWindow, chartShowCommand);
}

void handleAdjustCheck(HWND dialog, int notificationCode) {
    if (!isClickOrAccelerator(notificationCode))
        return;
    adjustCheckState =
        static_cast<int>(SendDlgItemMessageA(dialog, adjustCheckId, BM_GETCHECK, 0, 0));
    if (adjustCheckState != BST_CHECKED && adjustCheckState != BST_UNCHECKED)
        return;
    for (WPARAM command : adjustCommands)
        postCommand(stockWindow, command);
}
