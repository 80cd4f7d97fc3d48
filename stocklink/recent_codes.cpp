#include "stocklink/recent_codes.h"

#include <cstring>

void RecentCodeLineReader::startLine() {
    line_.clear();
    keptSize_ = 0;
    inLine_ = false;
    atStart_ = true;
}

void RecentCodeLineReader::endLine() {
    line_.truncate(keptSize_);
    std::size_t size = line_.size();
    if (size > CodeText::maxSize)
        size = cutAtCharBoundary(line_.c_str(), size, CodeText::maxSize, isLeadByte_);
    entry_.assign(line_.c_str(), size);
    startLine();
}

bool RecentCodeLineReader::take(char byte) {
    if (byte == '\n' && afterCr_) {
        afterCr_ = false; // the LF of a CR LF pair
        return false;
    }
    afterCr_ = byte == '\r';
    if (byte == '\r' || byte == '\n') {
        endLine();
        return true;
    }
    inLine_ = true;
    if (byte == '\0')
        return false;
    if (byte == ' ') {
        if (!atStart_)
            line_.push(byte);
        return false;
    }
    atStart_ = false;
    // A quote is removed only after the spaces around the line are stripped, so it still shields
    // the spaces before it.
    if (byte != '"')
        line_.push(byte);
    keptSize_ = line_.size();
    return false;
}

bool RecentCodeLineReader::finish() {
    afterCr_ = false;
    if (!inLine_)
        return false;
    endLine();
    return true;
}

std::size_t formatRecentCodeLine(const char* entry, std::size_t size, char* out) {
    out[0] = '"';
    std::memcpy(out + 1, entry, size);
    out[size + 1] = '"';
    out[size + 2] = '\r';
    out[size + 3] = '\n';
    return size + recentLineOverhead;
}

void trimSpaces(CodeText& text) {
    const char* bytes = text.c_str();
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && bytes[begin] == ' ')
        ++begin;
    while (end > begin && bytes[end - 1] == ' ')
        --end;
    CodeText trimmed;
    trimmed.assign(bytes + begin, end - begin);
    text = trimmed;
}

std::size_t keysOfCode(const char* code, std::size_t size, LeadBytePredicate isLeadByte, char* keys,
                       std::size_t capacity) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < size && count < capacity; ++i) {
        char byte = code[i];
        if (isLeadByte(static_cast<unsigned char>(byte))) {
            ++i; // and its trail byte
        } else if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z')) {
            keys[count++] = byte;
        } else if (byte >= 'a' && byte <= 'z') {
            keys[count++] = static_cast<char>(byte - 'a' + 'A');
        }
    }
    return count;
}
