#include "base/ui_text.h"

#include "res/resource.h"

namespace {

// Our own texts are short: a chart title behind the program name, a code, a label.
constexpr int wideTextCapacity = 1024;

// Converts UTF-16 to GBK into out and cuts at a character boundary to fit.
std::size_t wideToGbk(const wchar_t* wide, int wideSize, char* out, std::size_t capacity) {
    // Each UTF-16 unit takes at most two bytes in GBK.
    char gbk[2 * 256];
    if (wideSize > 256)
        wideSize = 256;
    int size =
        WideCharToMultiByte(textCodePage, 0, wide, wideSize, gbk, sizeof gbk, nullptr, nullptr);
    if (size < 0)
        size = 0;
    std::size_t kept =
        cutAtCharBoundary(gbk, static_cast<std::size_t>(size), capacity - 1, isGbkLeadByte);
    memcpy(out, gbk, kept);
    out[kept] = '\0';
    return kept;
}

} // namespace

bool isGbkLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(textCodePage, byte) != FALSE;
}

bool systemCodePageIsGbk() {
    return GetACP() == textCodePage;
}

int gbkToWide(const char* text, wchar_t* out, int capacity) {
    int written = MultiByteToWideChar(textCodePage, 0, text, -1, out, capacity);
    if (written <= 0) {
        // Too long for out: keep what fits rather than nothing.
        written = MultiByteToWideChar(textCodePage, 0, text, capacity - 1, out, capacity - 1) + 1;
    }
    out[written - 1] = L'\0';
    return written - 1;
}

WideText::WideText(const char* text) : null_(text == nullptr) {
    text_[0] = L'\0';
    if (text)
        gbkToWide(text, text_, sizeof text_ / sizeof text_[0]);
}

void setWindowTextGbk(HWND window, const char* text) {
    wchar_t wide[wideTextCapacity];
    gbkToWide(text, wide, wideTextCapacity);
    SetWindowTextW(window, wide);
}

std::size_t getWindowTextGbk(HWND window, char* out, std::size_t capacity) {
    // The callers' buffers hold at most 254 bytes, which never need more than 255 UTF-16 units.
    wchar_t wide[256];
    int wideSize = GetWindowTextW(window, wide, 256);
    return wideToGbk(wide, wideSize, out, capacity);
}

LRESULT addComboItemGbk(HWND combo, const char* text) {
    wchar_t wide[wideTextCapacity];
    gbkToWide(text, wide, wideTextCapacity);
    return SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
}

LRESULT insertComboItemGbk(HWND combo, int index, const char* text) {
    wchar_t wide[wideTextCapacity];
    gbkToWide(text, wide, wideTextCapacity);
    return SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(wide));
}

std::size_t getComboItemGbk(HWND combo, int index, char* out, std::size_t capacity) {
    out[0] = '\0';
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    wchar_t wide[wideTextCapacity];
    if (length == CB_ERR || length >= wideTextCapacity)
        return 0;
    LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(wide));
    if (got == CB_ERR)
        return 0;
    return wideToGbk(wide, static_cast<int>(got), out, capacity);
}

int screenDpi() {
    static int dpi = 0;
    if (!dpi) {
        HDC screen = GetDC(nullptr);
        dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
        if (screen)
            ReleaseDC(nullptr, screen);
        if (dpi <= 0)
            dpi = 96;
    }
    return dpi;
}

int scaledPixels(int pixelsAt96) {
    return MulDiv(pixelsAt96, screenDpi(), 96);
}

int smallIconSize() {
    return scaledPixels(16);
}

HICON loadProgramIcon(int iconNumber, int size) {
    HINSTANCE self = GetModuleHandleW(nullptr);
    HICON icon = static_cast<HICON>(
        LoadImageW(self, MAKEINTRESOURCEW(iconNumber), IMAGE_ICON, size, size, 0));
    // Windows XP cannot read the larger images, which are PNG: it gets the 16 px one.
    if (!icon && size != 16)
        icon = static_cast<HICON>(
            LoadImageW(self, MAKEINTRESOURCEW(iconNumber), IMAGE_ICON, 16, 16, 0));
    return icon;
}

void setIconByNumber(HWND dialog, int controlId, int iconNumber) {
    static HICON loaded[IDI_SCREEN_ONE_LIT - IDI_PERIOD_M1 + 1];
    if (iconNumber < IDI_PERIOD_M1 || iconNumber > IDI_SCREEN_ONE_LIT)
        return;
    HICON& icon = loaded[iconNumber - IDI_PERIOD_M1];
    if (!icon)
        icon = loadProgramIcon(iconNumber, smallIconSize());
    SendDlgItemMessageW(dialog, controlId, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(icon));
}

HWND findWindowGbk(HWND parent, HWND after, const char* className, const char* title) {
    WideText wideClass(className);
    WideText wideTitle(title);
    return FindWindowExW(parent, after, wideClass.get(), wideTitle.get());
}

GbkWindowText::~GbkWindowText() {
    if (block_)
        HeapFree(GetProcessHeap(), 0, block_);
}

void GbkWindowText::read(HWND window) {
    size_ = 0;
    text_[0] = '\0';
    if (!window)
        return;
    int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return;
    // The UTF-16 text and its GBK bytes (at most two for each unit) share one block when the
    // local buffers are too small.
    std::size_t units = static_cast<std::size_t>(length) + 1;
    wchar_t wideLocal[sizeof local_ / 2];
    wchar_t* wide = wideLocal;
    char* bytes = local_;
    std::size_t room = sizeof local_;
    void* block = nullptr;
    if (units > sizeof wideLocal / sizeof wideLocal[0]) {
        block = HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t) + 2 * units);
        if (!block)
            return;
        wide = static_cast<wchar_t*>(block);
        bytes = reinterpret_cast<char*>(wide + units);
        room = 2 * units;
    }
    // The length can be overstated; the text's own length is what GetWindowTextW returns.
    int got = GetWindowTextW(window, wide, static_cast<int>(units));
    int size = got > 0 ? WideCharToMultiByte(textCodePage, 0, wide, got, bytes,
                                             static_cast<int>(room - 1), nullptr, nullptr)
                       : 0;
    if (block_ && block_ != block)
        HeapFree(GetProcessHeap(), 0, block_);
    block_ = block;
    text_ = bytes;
    size_ = size > 0 ? static_cast<std::size_t>(size) : 0;
    text_[size_] = '\0';
}
