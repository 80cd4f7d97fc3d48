#include "stocklink/discovery.h"

#include "base/state.h"
#include "base/ui_text.h"
#include "res/resource.h"
#include "stocklink/handle_file.h"
#include "stocklink/stock_titles.h"

BOOL CALLBACK matchStockWindow(HWND window, LPARAM) {
    AnsiWindowText title;
    title.read(window);
    if (!titleNamesStockProgram(title.data(), title.size()))
        return TRUE;
    setIconByNumber(mainWindow, stockIconId, IDI_SCREENS_LIT);
    writeHandleFile(window);
    return FALSE;
}
