#include "base/pause.h"

#include <windows.h>

PauseHook pauseHook = nullptr;

void pause(unsigned milliseconds) {
    if (pauseHook)
        pauseHook(milliseconds);
    else
        Sleep(milliseconds);
}
