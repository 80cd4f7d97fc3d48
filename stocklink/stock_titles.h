// The titles by which the stock program's main window is recognised, as GBK bytes.
#pragma once

#include <cstddef>

// Tested in this order; each may stand anywhere in a window's title.
constexpr const char* stockTitles[] = {
    "\xB7\xC9\xBA\xFC\xBD\xBB\xD2\xD7\xCA\xA6 - \xB2\xF8\xD3\xD1\xB0\xE6", // 飞狐交易师 - 缠友版
    "\xB9\xC9\xB5\xC0\xBB\xC6\xBD\xF0\xB0\xE6 - \xC6\xD5\xBC\xB0\xB0\xE6", // 股道黄金版 - 普及版
};

// True when the title contains one of stockTitles, compared byte for byte and case-sensitively.
bool titleNamesStockProgram(const char* title, std::size_t size);
