#include "base/state.h"

HWND mainWindow = nullptr;
HWND desktopWindow = nullptr;
HWND stockWindow = nullptr;
FixedText<4> controlMode;

void resetSharedState() {
    mainWindow = desktopWindow = stockWindow = nullptr;
    controlMode.clear();
}
