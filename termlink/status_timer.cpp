#include "termlink/status_timer.h"

#include "base/state.h"
#include "base/other_window.h"
#include "base/pause.h"
#include "base/ui_text.h"
#include "res/resource.h"

HWND terminalWindow = nullptr;
ChartTitle activeChartTitle;
HWND activeChartWindow = nullptr;
HWND activeChartView = nullptr;

namespace {

constexpr const char* terminalClassName = "MetaQuotes::MetaTrader::4.00";
// The terminal's MDI client, the parent of its chart windows.
constexpr const char* mdiClientClass = "MDIClient";
// Asks the terminal to refresh; nothing is read back.
constexpr WPARAM terminalRefreshCommand = 33324;
// The chart view's class, in the order tried.
constexpr const char* chartViewClasses[] = {"AfxFrameOrView42", "AfxFrameOrView42s"};
constexpr const char* captionSeparator = "   ";

void showCaption() {
    FixedText<sizeof programTitle + 3 + ChartTitle::maxSize> caption;
    caption.assign(programTitle);
    caption.append(captionSeparator);
    caption.append(activeChartTitle.c_str(), activeChartTitle.size());
    setWindowTextGbk(mainWindow, caption.c_str());
}

// A short blink that ends on the one-lit-screen icon while the chart view is there.
void showTerminalStatus() {
    if (!activeChartView) {
        setIconByNumber(mainWindow, terminalIconId, IDI_SCREENS_DARK);
        return;
    }
    setIconByNumber(mainWindow, terminalIconId, IDI_SCREENS_LIT);
    pause(200);
    setIconByNumber(mainWindow, terminalIconId, IDI_SCREENS_DARK);
    pause(100);
    setIconByNumber(mainWindow, terminalIconId, IDI_SCREEN_ONE_LIT);
}

} // namespace

void findTerminal() {
    terminalWindow = findWindowGbk(nullptr, nullptr, terminalClassName, nullptr);
}

void resetStatusTimerState() {
    terminalWindow = activeChartWindow = activeChartView = nullptr;
    activeChartTitle.clear();
}

HWND findTerminalChart(const char* title) {
    HWND mdiClient = findWindowGbk(terminalWindow, nullptr, mdiClientClass, nullptr);
    return findWindowGbk(mdiClient, nullptr, nullptr, title);
}

void CALLBACK handleStatusTimer(HWND, UINT message, UINT_PTR, DWORD) {
    if (message != WM_TIMER)
        return;
    findTerminal();
    postCommand(terminalWindow, terminalRefreshCommand);

    GbkWindowText caption;
    caption.read(terminalWindow);
    // A title cut to fit may end in the first byte of a double-byte character, which the caption
    // would show as a stray "?". The terminating zero stands in for the rest that was cut, so
    // such a byte counts as half a character and goes.
    if (!chartTitleFromCaption(caption.data(), caption.size(), activeChartTitle))
        activeChartTitle.truncate(cutAtCharBoundary(activeChartTitle.c_str(),
                                                    activeChartTitle.size() + 1,
                                                    activeChartTitle.size(), isGbkLeadByte));

    activeChartWindow = findTerminalChart(activeChartTitle.c_str());
    activeChartView = nullptr;
    for (const char* viewClass : chartViewClasses) {
        if (!activeChartView)
            activeChartView = findWindowGbk(activeChartWindow, nullptr, viewClass, nullptr);
    }

    showCaption();
    showTerminalStatus();
}
