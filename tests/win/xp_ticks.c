/* Windows XP has no GetTickCount64, and MinGW-w64's thread library (winpthreads, under every
 * -posix C++ program) imports it, so no 32-bit test program or stand-in would start there. The
 * 32-bit links take this pointer for the import instead (tests/CMakeLists.txt): the system's own
 * function where there is one, else GetTickCount, which wraps only after 49 days. */
#include <windows.h>

typedef ULONGLONG(WINAPI* TickCount64)(void);

/* Looked up on each call: winpthreads calls it seldom, and nothing is shared between threads. */
static ULONGLONG WINAPI tickCount64(void) {
    TickCount64 system =
        (TickCount64)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64");
    return system ? system() : GetTickCount();
}

TickCount64 talvero_tick_count64 = tickCount64;
