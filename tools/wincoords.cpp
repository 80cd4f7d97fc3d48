// Prints where a window or one of its controls is on the screen, for scripts that drive the
// programs with real mouse clicks through the X display (under Wine, screen and X root
// coordinates are the same).
//
//   wincoords TITLE            the window's rectangle: left top right bottom
//   wincoords TITLE ID         the centre of the child control with that ID: x y
//   wincoords TITLE ID BUTTON  the centre of toolbar button BUTTON (0-based) of control ID: x y
// TITLE is the start of the window's title (Talvero's caption grows behind it). Exit code 1 when
// the window or control is not there.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring wanted;
HWND found;

BOOL CALLBACK matchTitle(HWND window, LPARAM) {
    wchar_t title[512] = L"";
    GetWindowTextW(window, title, 512);
    if (!IsWindowVisible(window) || std::wstring(title).compare(0, wanted.size(), wanted) != 0)
        return TRUE;
    found = window;
    return FALSE;
}

// The toolbar writes the rectangle into its own process, so it gets a buffer there.
bool toolbarButtonRect(HWND toolbar, int index, RECT& rect) {
    DWORD processId = 0;
    GetWindowThreadProcessId(toolbar, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        return false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof rect, MEM_COMMIT, PAGE_READWRITE);
    bool got = remote &&
               SendMessageW(toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote)) &&
               ReadProcessMemory(process, remote, &rect, sizeof rect, nullptr);
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return got;
}

} // namespace

int main() {
    // The wide command line keeps a Chinese title intact whatever the code page.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2)
        return 2;
    wanted = argv[1];
    EnumWindows(matchTitle, 0);
    HWND window = found;
    if (!window)
        return 1;
    RECT rect;
    if (argc == 2) {
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    HWND control = GetDlgItem(window, _wtoi(argv[2]));
    if (!control)
        return 1;
    if (argc >= 4) {
        if (!toolbarButtonRect(control, _wtoi(argv[3]), rect))
            return 1;
        MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    } else {
        GetWindowRect(control, &rect);
    }
    std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    return 0;
}
