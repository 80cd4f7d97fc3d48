// Arbitrary file bytes through the recent-codes reader, read as start-up reads DAIMA.DAT.
#include "stocklink/recent_codes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

void check(bool holds) {
    if (!holds)
        std::abort();
}

struct Expected {
    std::string entry;
    bool mayEndInSpace; // the line held quotes, or was cut after a space
};

// What one line of the file must load as, worked out on the whole line at once: NUL bytes out,
// spaces off both ends, quotes out, then the longest start of at most 254 bytes that does not
// end inside a double-byte character.
Expected expectedEntry(const std::string& raw) {
    std::string line;
    for (char byte : raw) {
        if (byte != '\0')
            line += byte;
    }
    std::size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos)
        line.clear();
    else
        line = line.substr(begin, line.find_last_not_of(' ') + 1 - begin);
    std::string text;
    for (char byte : line) {
        if (byte != '"')
            text += byte;
    }
    std::size_t end = 0;
    while (end < text.size()) {
        bool pair = isGbkLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size();
        std::size_t next = end + (pair ? 2 : 1);
        if (next > CodeText::maxSize)
            break;
        end = next;
    }
    return {text.substr(0, end), end < text.size() || text.size() < line.size()};
}

// The file's lines end with CR LF, LF or a lone CR; a last line without one still counts.
std::vector<Expected> expectedEntries(const std::string& file) {
    std::vector<Expected> entries;
    std::string raw;
    bool pending = false;
    for (std::size_t i = 0; i < file.size(); ++i) {
        char byte = file[i];
        if (byte == '\r' || byte == '\n') {
            if (byte == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                ++i;
            entries.push_back(expectedEntry(raw));
            raw.clear();
            pending = false;
        } else {
            raw += byte;
            pending = true;
        }
    }
    if (pending)
        entries.push_back(expectedEntry(raw));
    return entries;
}

// Reads the file in chunks of varying size, as the loader reads the file block by block.
std::vector<std::string> readEntries(const std::string& file, std::uint32_t seed) {
    RecentCodeLineReader reader(isGbkLeadByte);
    std::vector<std::string> entries;
    std::size_t at = 0;
    while (at < file.size()) {
        seed = seed * 1664525u + 1013904223u;
        std::size_t chunk = 1 + (seed >> 16) % 300;
        std::vector<char> block(file.begin() + at,
                                file.begin() + at +
                                    (chunk < file.size() - at ? chunk : file.size() - at));
        at += block.size();
        for (char byte : block) {
            if (reader.take(byte))
                entries.emplace_back(reader.entry().c_str(), reader.entry().size());
        }
    }
    if (reader.finish())
        entries.emplace_back(reader.entry().c_str(), reader.entry().size());
    return entries;
}

std::string formatEntry(const std::string& entry) {
    std::size_t room = entry.size() + recentLineOverhead;
    char* out = new char[room]; // exactly the promised room, so that a write past it is caught
    std::size_t written = formatRecentCodeLine(entry.data(), entry.size(), out);
    check(written == room);
    std::string line(out, written);
    delete[] out;
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    std::uint32_t seed = 2166136261u;
    for (std::uint8_t byte : file)
        seed = (seed ^ byte) * 16777619u;

    std::vector<Expected> expected = expectedEntries(file);
    std::vector<std::string> entries = readEntries(file, seed);
    check(entries.size() == expected.size());

    std::string written;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        check(entry == expected[i].entry);
        check(entry.size() <= CodeText::maxSize);
        check(entry.find_first_of(std::string("\"\r\n\0", 4)) == std::string::npos);
        if (!expected[i].mayEndInSpace && !entry.empty())
            check(entry.front() != ' ' && entry.back() != ' ');
        std::string line = formatEntry(entry);
        check(line == "\"" + entry + "\"\r\n");
        written += line;
    }
    check(readEntries(written, seed) == entries);

    CodeText code;
    code.assign(file.data(), file.size() < CodeText::maxSize ? file.size() : CodeText::maxSize);
    std::string untrimmed(code.c_str(), code.size());
    trimSpaces(code);
    std::size_t begin = untrimmed.find_first_not_of(' ');
    std::string trimmed =
        begin == std::string::npos
            ? ""
            : untrimmed.substr(begin, untrimmed.find_last_not_of(' ') + 1 - begin);
    check(std::string(code.c_str(), code.size()) == trimmed);

    // The keys of a code: never more than room is given for, and only upper-case letters and
    // digits, each the byte of a character of its own.
    char keys[8];
    std::size_t room = seed % 8;
    std::size_t count = keysOfCode(file.data(), file.size(), isGbkLeadByte, keys, room);
    check(count <= room);
    for (std::size_t i = 0; i < count; ++i)
        check((keys[i] >= '0' && keys[i] <= '9') || (keys[i] >= 'A' && keys[i] <= 'Z'));
    return 0;
}
