// The recent-codes file DAIMA.DAT and the code text of a query, without the window system.
//
// Each entry fills one line: a double quote, the entry's bytes, a double quote, CR LF. Lines are
// read back whole, with the spaces around them stripped and every double quote removed, so a line
// written without quotes loads the same way.
#pragma once

#include "base/fixed_text.h"

#include <cstddef>

// The query's code buffer: at most 254 bytes of the ANSI code page.
using CodeText = FixedText<255>;

// The query keeps this many entries of the list in the file.
constexpr int recentFileEntries = 10;
// Quotes and CR LF around each entry.
constexpr std::size_t recentLineOverhead = 4;
constexpr std::size_t recentFileMaxBytes =
    recentFileEntries * (CodeText::maxSize + recentLineOverhead);

// Reads the file's lines one byte at a time, so that a file of any size and any bytes loads
// through a bounded buffer. Lines end with CR LF, LF or a lone CR; NUL bytes are dropped; a line
// longer than an entry can hold is cut at a character boundary.
class RecentCodeLineReader {
  public:
    explicit RecentCodeLineReader(LeadBytePredicate isLeadByte) : isLeadByte_(isLeadByte) {}

    // Takes the next byte of the file; true when it ended a line, whose entry is then in entry().
    bool take(char byte);
    // At the end of the file: true when a last line without a line end was pending.
    bool finish();
    const CodeText& entry() const { return entry_; }

  private:
    void startLine();
    void endLine();

    LeadBytePredicate isLeadByte_;
    CodeText entry_;
    // One byte more than an entry: whether the line goes on past the entry's last byte decides
    // if a lead byte there is cut off with its trail byte.
    FixedText<CodeText::maxSize + 2> line_;
    std::size_t keptSize_ = 0; // stored bytes up to the last byte that is not a space
    bool inLine_ = false;      // a byte other than a line end has been seen since the last line end
    bool atStart_ = true;      // still skipping the line's leading spaces
    bool afterCr_ = false;
};

// Writes one line of the file for the entry into out, which has room for
// size + recentLineOverhead bytes; returns the bytes written.
std::size_t formatRecentCodeLine(const char* entry, std::size_t size, char* out);

// Removes the space characters (byte 32 only) at both ends.
void trimSpaces(CodeText& text);

// The keys that type a code into the stock program: its letters, in upper case (their virtual-key
// codes), and its digits, in order. Every other byte, and both bytes of a double-byte character
// (whose second byte may look like a letter), get no key: the key of such a byte would be some
// other key (a full stop is Delete, '[' a Windows key, a GBK byte a media key). Writes at most
// capacity keys into keys and returns how many.
std::size_t keysOfCode(const char* code, std::size_t size, LeadBytePredicate isLeadByte, char* keys,
                       std::size_t capacity);
