#include "app/dispatch.h"

#include "app/balloon.h"
#include "app/main_window.h"
#include "stocklink/discovery.h"
#include "stocklink/handle_file.h"
#include "stocklink/query.h"
#include "termlink/period.h"

HWND savedFocus = nullptr;

void resetDispatchState() {
    savedFocus = nullptr;
}

namespace {

// Remembers the focused control when the caption turns inactive, and gives the focus back when
// the window is activated again, so that the user can go on typing where they left off.
void keepFocusAcrossActivation(bool becomingActive) {
    if (!becomingActive) {
        savedFocus = GetFocus();
    } else if (savedFocus) {
        SetFocus(savedFocus);
        savedFocus = nullptr;
    }
}

void setControlMode(const char* mode, int notificationCode) {
    if (isClickOrAccelerator(notificationCode))
        controlMode.assign(mode);
}

// The dialog manager answers Enter with IDOK; Enter in the code box is the user's query.
bool focusInCodeBox() {
    HWND combo = GetDlgItem(mainWindow, codeComboId);
    HWND focus = GetFocus();
    return focus && (focus == combo || IsChild(combo, focus));
}

bool isPeriodButton(int controlId) {
    return controlId >= periodTable[0].controlId &&
           controlId <= periodTable[periodCount - 1].controlId;
}

void routeCommand(int controlId, int notificationCode) {
    bool accepted = isClickOrAccelerator(notificationCode);
    bool query = controlId == queryButtonId || (controlId == IDOK && focusInCodeBox());
    // What reaches the stock program must find the one running now: a handle file that names a
    // window that has gone is replaced by a new search first.
    bool stockProgramThere = false;
    if (accepted && (query || isPeriodButton(controlId) || controlId == adjustCheckId))
        stockProgramThere = refreshStockWindow();
    if (isPeriodButton(controlId)) {
        handlePeriodButton(controlId, notificationCode);
        if (accepted)
            tellPeriodOutcome(stockProgramThere);
        return;
    }
    switch (controlId) {
    case singleOptionId:
        setControlMode("dan", notificationCode);
        break;
    case multiOptionId:
        setControlMode("duo", notificationCode);
        break;
    case IDOK: // Enter
    case queryButtonId:
        if (accepted && query)
            tellQueryOutcome(handleQuery());
        break;
    case adjustCheckId:
        handleAdjustCheck(mainWindow, notificationCode);
        if (accepted)
            tellAdjustOutcome(stockProgramThere);
        break;
    default: // the code box, the labels and anything else
        break;
    }
}

} // namespace

INT_PTR CALLBACK dispatchMainWindowEvent(HWND, UINT message, WPARAM wParam, LPARAM) {
    // The file, not a variable, carries the handle: another run or program may have rewritten it.
    readHandleFile(stockWindow);
    switch (message) {
    case WM_NCACTIVATE:
        keepFocusAcrossActivation(wParam != 0);
        break;
    case WM_COMMAND:
        routeCommand(LOWORD(wParam), HIWORD(wParam));
        break;
    default:
        break;
    }
    // Everything else (drawing, keyboard navigation, closing) is the default dialog handling.
    return FALSE;
}
