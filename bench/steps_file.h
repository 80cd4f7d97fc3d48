// The steps file of the start-up breakdown, written by the floor and by the start-up steps with
// Win32 alone: the C runtime's formatted output would make the floor three times larger.
// One start appends one line of "name=milliseconds" fields.
#pragma once

#include <windows.h>

namespace stepsfile {

// Microseconds from "12345.678" (milliseconds), as the starting program passes its clock.
inline long long parseMicroseconds(const char* text) {
    long long whole = 0;
    long long fraction = 0;
    int fractionDigits = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        whole = whole * 10 + (*text - '0');
    if (*text == '.') {
        for (++text; *text >= '0' && *text <= '9' && fractionDigits < 3; ++text, ++fractionDigits)
            fraction = fraction * 10 + (*text - '0');
    }
    for (; fractionDigits < 3; ++fractionDigits)
        fraction *= 10;
    return whole * 1000 + fraction;
}

class Line {
  public:
    // Adds "name=milliseconds" with three decimals; a field that no longer fits is dropped.
    void add(const char* name, double milliseconds) {
        long long microseconds = static_cast<long long>(milliseconds * 1000.0);
        if (microseconds < 0)
            microseconds = 0;
        if (size_ + 128 > static_cast<int>(sizeof text_))
            return;
        size_ +=
            wsprintfA(text_ + size_, "%s=%d.%03d ", name, static_cast<int>(microseconds / 1000),
                      static_cast<int>(microseconds % 1000));
    }

    void appendTo(const char* path) {
        if (size_ == 0)
            return;
        text_[size_ - 1] = '\n';
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        WriteFile(file, text_, static_cast<DWORD>(size_), &written, nullptr);
        CloseHandle(file);
    }

  private:
    char text_[4096];
    int size_ = 0;
};

} // namespace stepsfile
