// Talvero: keeps a stock-analysis program and a trading terminal on the same stock and period.
#include "app/dispatch.h"
#include "app/main_window.h"
#include "base/other_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    initCommonControls();                   // controls drawn with visual styles
    runMainWindow(nullptr);                 // until the user closes the window
    showWindow(stockWindow, SW_SHOWNORMAL); // leave the stock program shown normally
    return 0;
}
