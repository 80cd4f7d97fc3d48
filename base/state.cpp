#include "base/state.h"

HWND mainWindow = nullptr;
HWND desktopWindow = nullptr;
HWND stockWindow = nullptr;
FixedText<4> controlMode;
