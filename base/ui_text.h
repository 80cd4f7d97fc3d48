// Text and pictures of the tool's own windows. The tool's texts are ANSI (GBK) byte strings and
// its windows are Unicode, so every text crosses between the two here and nowhere else.
#pragma once

#include "base/fixed_text.h"

#include <windows.h>

// The ANSI code page's lead-byte test, for cutting texts at character boundaries.
bool isAnsiLeadByte(unsigned char byte);

void setWindowTextAnsi(HWND window, const char* text);

// Reads a window's text as ANSI bytes into out (capacity bytes including the terminating zero),
// cut at a character boundary to fit; returns the bytes stored.
std::size_t getWindowTextAnsi(HWND window, char* out, std::size_t capacity);

template <std::size_t Capacity>
void getWindowTextAnsi(HWND window, FixedText<Capacity>& text) {
    text.setSize(getWindowTextAnsi(window, text.buffer(), Capacity));
}

// Combo-box items as ANSI text. Reading cuts at a character boundary to fit.
LRESULT addComboItemAnsi(HWND combo, const char* text);
LRESULT insertComboItemAnsi(HWND combo, int index, const char* text);
std::size_t getComboItemAnsi(HWND combo, int index, char* out, std::size_t capacity);

template <std::size_t Capacity>
void getComboItemAnsi(HWND combo, int index, FixedText<Capacity>& text) {
    text.setSize(getComboItemAnsi(combo, index, text.buffer(), Capacity));
}

// Converts ANSI text to UTF-16 into out (capacity characters including the terminating zero);
// returns the characters written, without the terminating zero.
int ansiToWide(const char* text, wchar_t* out, int capacity);

// Shows one of the program's icons (by resource number) on an icon control of the dialog.
// Each icon is loaded once and kept for the whole run, so setting icons again and again
// creates no handles.
void setIconByNumber(HWND dialog, int controlId, int iconNumber);

// Another program's window title, read with the ANSI functions, of whatever length.
class AnsiWindowText {
  public:
    AnsiWindowText() = default;
    AnsiWindowText(const AnsiWindowText&) = delete;
    AnsiWindowText& operator=(const AnsiWindowText&) = delete;
    ~AnsiWindowText();

    // Reads the title; a window of 0 or one without a title gives the empty text.
    void read(HWND window);
    char* data() { return text_; }
    std::size_t size() const { return size_; }

  private:
    char local_[512];
    char* text_ = local_;
    std::size_t size_ = 0;
};
