// Text of the tool's own windows and of the other programs' windows. The tool's texts are GBK
// byte strings, whatever the system's code page, and every window is read and written through
// UTF-16, so every text crosses between the two here and nowhere else.
#pragma once

#include "base/fixed_text.h"

#include <windows.h>

// The code page of the tool's texts, of DAIMA.DAT and of the names it looks for in the other
// programs' windows: GBK. Taking the system's code page instead would garble them on a
// Traditional Chinese or Western system.
constexpr UINT textCodePage = 936;

// GBK's lead-byte test, for cutting texts at character boundaries.
bool isGbkLeadByte(unsigned char byte);

// True when the system's code page for programs that are not Unicode is GBK.
bool systemCodePageIsGbk();

// Converts GBK text to UTF-16 into out (capacity characters including the terminating zero);
// returns the characters written, without the terminating zero.
int gbkToWide(const char* text, wchar_t* out, int capacity);

// A GBK text as UTF-16 for one call; nullptr stays nullptr (a window search's "any").
class WideText {
  public:
    explicit WideText(const char* text);
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;
    const wchar_t* get() const { return null_ ? nullptr : text_; }

  private:
    wchar_t text_[512];
    bool null_;
};

void setWindowTextGbk(HWND window, const char* text);

// Reads a window's text as GBK bytes into out (capacity bytes including the terminating zero),
// cut at a character boundary to fit; returns the bytes stored.
std::size_t getWindowTextGbk(HWND window, char* out, std::size_t capacity);

template <std::size_t Capacity>
void getWindowTextGbk(HWND window, FixedText<Capacity>& text) {
    text.setSize(getWindowTextGbk(window, text.buffer(), Capacity));
}

// Combo-box items as GBK text. Reading cuts at a character boundary to fit.
LRESULT addComboItemGbk(HWND combo, const char* text);
LRESULT insertComboItemGbk(HWND combo, int index, const char* text);
std::size_t getComboItemGbk(HWND combo, int index, char* out, std::size_t capacity);

template <std::size_t Capacity>
void getComboItemGbk(HWND combo, int index, FixedText<Capacity>& text) {
    text.setSize(getComboItemGbk(combo, index, text.buffer(), Capacity));
}

// The screen's pixels per inch (96 at 100 % display scaling), read once: the program declares
// itself DPI-aware, so Windows draws it at this density and leaves its pixel sizes to it.
int screenDpi();
// A size of pixels at 96 dpi, at the screen's density.
int scaledPixels(int pixelsAt96);
// The size of the program's small icons (status icons, toolbar images): 16 px at 96 dpi, 20 at
// 120, 24 at 144, 32 at 192; each icon holds an image of each of these sizes.
int smallIconSize();

// One of the program's icons at the size given, a handle of its own (DestroyIcon it).
HICON loadProgramIcon(int iconNumber, int size);

// Shows one of the program's icons (by resource number) on an icon control of the dialog.
// Each icon is loaded once and kept for the whole run, so setting icons again and again
// creates no handles.
void setIconByNumber(HWND dialog, int controlId, int iconNumber);

// FindWindowEx with GBK class and title (either may be nullptr for any), compared as the window
// system compares them, whatever the system's code page.
HWND findWindowGbk(HWND parent, HWND after, const char* className, const char* title);

// Another program's window title as GBK bytes, of whatever length. A character that GBK lacks
// reads as '?'.
class GbkWindowText {
  public:
    GbkWindowText() = default;
    GbkWindowText(const GbkWindowText&) = delete;
    GbkWindowText& operator=(const GbkWindowText&) = delete;
    ~GbkWindowText();

    // Reads the title; a window of 0 or one without a title gives the empty text.
    void read(HWND window);
    char* data() { return text_; }
    std::size_t size() const { return size_; }

  private:
    char local_[512];
    char* text_ = local_;
    void* block_ = nullptr; // the heap block text_ lies in, for a long title
    std::size_t size_ = 0;
};
