#include "termlink/status_timer.h"

#include "base/state.h"
#include "base/other_window.h"
#include "base/pause.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "termlink/period.h"

FixedText<32> terminalClass;
HWND terminalWindow = nullptr;
ChartTitle activeChartTitle;
HWND activeChartWindow = nullptr;
HWND activeChartView = nullptr;

namespace {

constexpr const char* terminalClassName = "MetaQuotes::MetaTrader::4.00";
// Asks the terminal to refresh; nothing is read back.
constexpr WPARAM terminalRefreshCommand = 33324;
// The chart view's class, in the order tried.
constexpr const char* chartViewClasses[] = {"AfxFrameOrView42", "AfxFrameOrView42s"};
constexpr const char* captionSeparator = "   ";

// A title cut to fit its buffer may end in the first byte of a double-byte character, which the
// caption would show as a stray "?"; that byte goes.
void dropHalfCharacter(ChartTitle& title) {
    const char* text = title.c_str();
    std::size_t last = 0;
    for (std::size_t at = 0; at < title.size();
         at += (at + 1 < title.size() && isAnsiLeadByte(text[at])) ? 2 : 1)
        last = at;
    if (!title.empty() && last == title.size() - 1 && isAnsiLeadByte(text[last]))
        title.truncate(last);
}

void showCaption() {
    FixedText<sizeof programTitle + 3 + ChartTitle::maxSize> caption;
    caption.assign(programTitle);
    caption.append(captionSeparator);
    caption.append(activeChartTitle.c_str(), activeChartTitle.size());
    setWindowTextAnsi(mainWindow, caption.c_str());
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
    terminalClass.assign(terminalClassName);
    terminalWindow = FindWindowA(terminalClass.c_str(), nullptr);
}

void CALLBACK handleStatusTimer(HWND, UINT message, UINT_PTR, DWORD) {
    if (message != WM_TIMER)
        return;
    findTerminal();
    postCommand(terminalWindow, terminalRefreshCommand);

    AnsiWindowText caption;
    caption.read(terminalWindow);
    if (!chartTitleFromCaption(caption.data(), caption.size(), activeChartTitle))
        dropHalfCharacter(activeChartTitle);

    activeChartWindow = FindWindowExA(terminalWindow, nullptr, mdiClientClass, nullptr);
    activeChartWindow =
        FindWindowExA(activeChartWindow, nullptr, nullptr, activeChartTitle.c_str());
    activeChartView = nullptr;
    for (const char* viewClass : chartViewClasses) {
        if (!activeChartView)
            activeChartView = FindWindowExA(activeChartWindow, nullptr, viewClass, nullptr);
    }

    showCaption();
    showTerminalStatus();
}
