// The parts of the kit that need only Win32, so that a program linking just these (the start-up
// steps, built as Talvero.exe is) stays as small as Talvero.exe.
#include "benchkit.h"

namespace benchkit {

double nowMs() {
    // Set on first use, not by a dynamic initializer: that one's thread-safe guard would link in
    // the C++ runtime's error handling and make the start-up steps program four times larger.
    static double ticksPerMs = 0;
    if (ticksPerMs == 0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        ticksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

void reloadHandleFile(HWND& window) {
    HANDLE file = CreateFileA("fxwindows.dat", GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    unsigned char bytes[4] = {};
    DWORD got = 0;
    if (ReadFile(file, bytes, sizeof bytes, &got, nullptr)) {
        DWORD value = 0;
        for (DWORD i = got; i > 0; --i)
            value = value << 8 | bytes[i - 1];
        window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    }
    CloseHandle(file);
}

HWND createDialogLikeTalvero(DLGPROC procedure, const char* caption, short x, short y) {
    // DLGTEMPLATEEX: version 1, no items, Talvero's style, size and font.
    alignas(4) WORD words[96] = {};
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
    wchar_t title[64];
    MultiByteToWideChar(CP_ACP, 0, caption, -1, title, 64);
    putWord(1);
    putWord(0xFFFF);
    putDword(0);
    putDword(WS_EX_CONTROLPARENT);
    putDword(0x84CA00D4);
    putWord(0);
    putWord(static_cast<WORD>(x));
    putWord(static_cast<WORD>(y));
    putWord(320);
    putWord(44);
    putWord(0);
    putWord(0);
    putText(title);
    putWord(8);
    putWord(FW_NORMAL);
    putWord(MAKEWORD(FALSE, ANSI_CHARSET));
    putText(L"MS Sans Serif");
    return CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words), nullptr, procedure, 0);
}

HWND createReferenceDialog(DLGPROC procedure, const char* caption, short x, short y) {
    HWND dialog = createDialogLikeTalvero(procedure, caption, x, y);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    ShowWindow(dialog, SW_SHOW);
    return dialog;
}

} // namespace benchkit
