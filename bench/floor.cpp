// The start-up floor: the least a program of this kind does before it can answer its user. It
// initialises the common controls as Talvero does, shows one empty dialog of the same template
// and pumps its messages. Built with Talvero's flags and manifest, it is what Talvero's start-up
// is compared against.
//
// bench_floor.exe [START FILE]: with a start time (performance-counter milliseconds, taken by the
// starting program before CreateProcess) and a file, it appends the time of each step to the file
// for the start-up breakdown; the times are taken in any case, the file is written only then.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib> // __argc, __argv

#include "steps_file.h"

namespace {

INT_PTR CALLBACK floorProcedure(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return TRUE;
    }
    return FALSE;
}

HWND createEmptyDialog() {
    alignas(4) WORD words[64] = {};
    WORD* at = words;
    auto putWord = [&at](WORD value) { *at++ = value; };
    auto putDword = [&](DWORD value) {
        putWord(LOWORD(value));
        putWord(HIWORD(value));
    };
    auto putText = [&at](const wchar_t* text) {
        do {
            *at++ = static_cast<WORD>(*text);
        } while (*text++);
    };
    putWord(1);
    putWord(0xFFFF);
    putDword(0);
    putDword(WS_EX_CONTROLPARENT);
    putDword(0x84CA00D4); // Talvero's style, without WS_VISIBLE
    putWord(0);           // no items
    putWord(221);
    putWord(171);
    putWord(320);
    putWord(44);
    putWord(0);
    putWord(0);
    putText(L"Floor");
    putWord(8);
    putWord(FW_NORMAL);
    putWord(MAKEWORD(FALSE, ANSI_CHARSET));
    putText(L"MS Sans Serif");
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(words), nullptr,
                                      floorProcedure, 0);
}

double nowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Drains the queue once, as the loop would before it first waits.
void handlePending(HWND dialog) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    double atMain = nowMs();
    INITCOMMONCONTROLSEX classes = {sizeof classes,
                                    ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&classes);
    double atControls = nowMs();
    HWND dialog = createEmptyDialog();
    double atBuilt = nowMs();
    ShowWindow(dialog, SW_SHOW);
    SetFocus(dialog);
    double atShown = nowMs();
    if (__argc > 2) {
        handlePending(dialog);
        double atPumped = nowMs();
        double start = static_cast<double>(stepsfile::parseMicroseconds(__argv[1])) / 1000.0;
        stepsfile::Line line;
        line.add("main", atMain - start);
        line.add("controls", atControls - atMain);
        line.add("built", atBuilt - atControls);
        line.add("shown", atShown - atBuilt);
        line.add("pumped", atPumped - atShown);
        line.appendTo(__argv[2]);
    }
    MSG message;
    while (IsWindow(dialog) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
