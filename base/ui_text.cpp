#include "base/ui_text.h"

#include "res/resource.h"

namespace {

// Our own texts are short: a chart title behind the program name, a code, a label.
constexpr int wideTextCapacity = 1024;

// Converts UTF-16 to ANSI into out and cuts at a character boundary to fit.
std::size_t wideToAnsi(const wchar_t* wide, int wideSize, char* out, std::size_t capacity) {
    // Each UTF-16 unit takes at most two bytes in a double-byte code page.
    char ansi[2 * 256];
    if (wideSize > 256)
        wideSize = 256;
    int size = WideCharToMultiByte(CP_ACP, 0, wide, wideSize, ansi, sizeof ansi, nullptr, nullptr);
    if (size < 0)
        size = 0;
    std::size_t kept =
        cutAtCharBoundary(ansi, static_cast<std::size_t>(size), capacity - 1, isAnsiLeadByte);
    memcpy(out, ansi, kept);
    out[kept] = '\0';
    return kept;
}

} // namespace

bool isAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

int ansiToWide(const char* text, wchar_t* out, int capacity) {
    int written = MultiByteToWideChar(CP_ACP, 0, text, -1, out, capacity);
    if (written <= 0) {
        // Too long for out: keep what fits rather than nothing.
        written = MultiByteToWideChar(CP_ACP, 0, text, capacity - 1, out, capacity - 1) + 1;
    }
    out[written - 1] = L'\0';
    return written - 1;
}

void setWindowTextAnsi(HWND window, const char* text) {
    wchar_t wide[wideTextCapacity];
    ansiToWide(text, wide, wideTextCapacity);
    SetWindowTextW(window, wide);
}

std::size_t getWindowTextAnsi(HWND window, char* out, std::size_t capacity) {
    // The callers' buffers hold at most 254 bytes, which never need more than 255 UTF-16 units.
    wchar_t wide[256];
    int wideSize = GetWindowTextW(window, wide, 256);
    return wideToAnsi(wide, wideSize, out, capacity);
}

LRESULT addComboItemAnsi(HWND combo, const char* text) {
    wchar_t wide[wideTextCapacity];
    ansiToWide(text, wide, wideTextCapacity);
    return SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
}

LRESULT insertComboItemAnsi(HWND combo, int index, const char* text) {
    wchar_t wide[wideTextCapacity];
    ansiToWide(text, wide, wideTextCapacity);
    return SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(wide));
}

std::size_t getComboItemAnsi(HWND combo, int index, char* out, std::size_t capacity) {
    out[0] = '\0';
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    wchar_t wide[wideTextCapacity];
    if (length == CB_ERR || length >= wideTextCapacity)
        return 0;
    LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(wide));
    if (got == CB_ERR)
        return 0;
    return wideToAnsi(wide, static_cast<int>(got), out, capacity);
}

void setIconByNumber(HWND dialog, int controlId, int iconNumber) {
    static HICON loaded[IDI_SCREEN_ONE_LIT - IDI_PERIOD_M1 + 1];
    if (iconNumber < IDI_PERIOD_M1 || iconNumber > IDI_SCREEN_ONE_LIT)
        return;
    HICON& icon = loaded[iconNumber - IDI_PERIOD_M1];
    if (!icon) {
        icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                             MAKEINTRESOURCEW(iconNumber), IMAGE_ICON, 16, 16, 0));
    }
    SendDlgItemMessageW(dialog, controlId, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(icon));
}

AnsiWindowText::~AnsiWindowText() {
    if (text_ != local_)
        HeapFree(GetProcessHeap(), 0, text_);
}

void AnsiWindowText::read(HWND window) {
    size_ = 0;
    text_[0] = '\0';
    if (!window)
        return;
    int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return;
    std::size_t needed = static_cast<std::size_t>(length) + 1;
    char* buffer = local_;
    if (needed > sizeof local_) {
        buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, needed));
        if (!buffer)
            return;
    }
    if (text_ != local_)
        HeapFree(GetProcessHeap(), 0, text_);
    text_ = buffer;
    // The length can be overstated; the text's own length is what GetWindowTextA returns.
    int got = GetWindowTextA(window, text_, static_cast<int>(needed));
    size_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    text_[size_] = '\0';
}
