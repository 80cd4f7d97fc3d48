#include "stocklink/discovery.h"

#include "base/state.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "stocklink/handle_file.h"
#include "stocklink/stock_titles.h"

BOOL CALLBACK matchStockWindow(HWND window, LPARAM found) {
    GbkWindowText title;
    title.read(window);
    if (!titleNamesStockProgram(title.data(), title.size()))
        return TRUE;
    if (found)
        *reinterpret_cast<HWND*>(found) = window;
    setIconByNumber(mainWindow, stockIconId, IDI_SCREENS_LIT);
    writeHandleFile(window);
    return FALSE;
}

bool refreshStockWindow() {
    if (stockWindow && IsWindow(stockWindow))
        return true;
    HWND found = nullptr;
    EnumChildWindows(desktopWindow, matchStockWindow, reinterpret_cast<LPARAM>(&found));
    // A file that cannot be rewritten (read-only, or held elsewhere) still gets the window used.
    if (found)
        stockWindow = found;
    return found != nullptr;
}

void watchStockWindow() {
    readHandleFile(stockWindow);
    bool there = refreshStockWindow();
    setIconByNumber(mainWindow, stockIconId, there ? IDI_SCREENS_LIT : IDI_SCREENS_DARK);
}
