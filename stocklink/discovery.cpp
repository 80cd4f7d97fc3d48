#include "stocklink/discovery.h"

#include "base/state.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "stocklink/handle_file.h"
#include "stocklink/stock_titles.h"

namespace {

// The window the last search took, whether or not the handle file could record it.
HWND foundStockWindow = nullptr;

} // namespace

BOOL CALLBACK matchStockWindow(HWND window, LPARAM) {
    AnsiWindowText title;
    title.read(window);
    if (!titleNamesStockProgram(title.data(), title.size()))
        return TRUE;
    foundStockWindow = window;
    setIconByNumber(mainWindow, stockIconId, IDI_SCREENS_LIT);
    writeHandleFile(window);
    return FALSE;
}

bool refreshStockWindow() {
    if (stockWindow && IsWindow(stockWindow))
        return true;
    foundStockWindow = nullptr;
    EnumChildWindows(desktopWindow, matchStockWindow, 0);
    // A file that cannot be rewritten (read-only, or held elsewhere) still gets the window used.
    if (foundStockWindow)
        stockWindow = foundStockWindow;
    return foundStockWindow != nullptr;
}

void resetDiscoveryState() {
    foundStockWindow = nullptr;
}

void watchStockWindow() {
    readHandleFile(stockWindow);
    bool there = refreshStockWindow();
    setIconByNumber(mainWindow, stockIconId, there ? IDI_SCREENS_LIT : IDI_SCREENS_DARK);
}
