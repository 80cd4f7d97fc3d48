#include "stocklink/stock_titles.h"

#include <cstring>

namespace {

bool containsBytes(const char* text, std::size_t size, const char* part) {
    std::size_t partSize = std::strlen(part);
    if (partSize > size)
        return false;
    for (std::size_t at = 0; at + partSize <= size; ++at) {
        if (std::memcmp(text + at, part, partSize) == 0)
            return true;
    }
    return false;
}

} // namespace

bool titleNamesStockProgram(const char* title, std::size_t size) {
    for (const char* stockTitle : stockTitles) {
        if (containsBytes(title, size, stockTitle))
            return true;
    }
    return false;
}
