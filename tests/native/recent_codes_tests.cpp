// Reading and writing the recent-codes file DAIMA.DAT.
#include "stocklink/recent_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool isGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

using Entries = std::vector<std::string>;

// Loads the file's bytes the way start-up fills the list: one entry per line end, then the
// pending last line.
Entries readEntries(const std::string& file) {
    RecentCodeLineReader reader(isGbkLeadByte);
    Entries entries;
    for (char byte : file) {
        if (reader.take(byte))
            entries.push_back(reader.entry().c_str());
    }
    if (reader.finish())
        entries.push_back(reader.entry().c_str());
    return entries;
}

std::string formatLine(const std::string& entry) {
    std::string line(entry.size() + recentLineOverhead, '\0');
    line.resize(formatRecentCodeLine(entry.data(), entry.size(), &line[0]));
    return line;
}

std::string repeat(const std::string& part, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes)
        text += part;
    return text;
}

// 国 in GBK; its trail byte 0xFA is itself in the lead-byte range.
const std::string guo = "\xB9\xFA";

TEST(RecentCodesFile, ThreeLinesWithQuotesBlanksAndBareCodeLoadAsTheirCodes) {
    EXPECT_EQ(readEntries("\"600036\"\r\n 000001 \r\n600000\r\n"),
              (Entries{"600036", "000001", "600000"}));
}

TEST(RecentCodesFile, QuotesShieldTheSpacesInsideThemAndAreRemovedWherePlaced) {
    EXPECT_EQ(readEntries("\" 600000 \"\r\n"), Entries{" 600000 "});
    EXPECT_EQ(readEntries("   \" 600000 \"   \r\n"), Entries{" 600000 "});
    EXPECT_EQ(readEntries("60\"00\"36\r\n"), Entries{"600036"});
    EXPECT_EQ(readEntries("\"600036\r\n"), Entries{"600036"});
    EXPECT_EQ(readEntries("\"   \r\n"), Entries{""});
}

TEST(RecentCodesFile, OnlyTheSpaceByteIsStrippedAndInnerSpacesStay) {
    EXPECT_EQ(readEntries("\t600000\t\r\n"), Entries{"\t600000\t"});
    EXPECT_EQ(readEntries("  60 00 36  \r\n"), Entries{"60 00 36"});
}

TEST(RecentCodesFile, CrLfLfAndLoneCrAllEndALine) {
    Entries three = {"600036", "000001", "600000"};
    EXPECT_EQ(readEntries("600036\r\n000001\r\n600000\r\n"), three);
    EXPECT_EQ(readEntries("600036\n000001\n600000\n"), three);
    EXPECT_EQ(readEntries("600036\r000001\r600000\r"), three);
    EXPECT_EQ(readEntries("600036\r000001\n600000\r\n"), three);
    // LF CR is two line ends, not one: the CR ends an empty line.
    EXPECT_EQ(readEntries("600036\n\r600000"), (Entries{"600036", "", "600000"}));
    EXPECT_EQ(readEntries("600036\r\r\n600000"), (Entries{"600036", "", "600000"}));
}

TEST(RecentCodesFile, LastLineWithoutALineEndIsRead) {
    EXPECT_EQ(readEntries("600036\r\n600000"), (Entries{"600036", "600000"}));
    EXPECT_EQ(readEntries("600000"), Entries{"600000"});
    EXPECT_EQ(readEntries(""), Entries{});
    EXPECT_EQ(readEntries("600000\r\n"), Entries{"600000"});
}

TEST(RecentCodesFile, EmptyAndBlankLinesGiveEmptyEntries) {
    EXPECT_EQ(readEntries("\r\n   \r\n\"\"\r\n600000\r\n"), (Entries{"", "", "", "600000"}));
    EXPECT_EQ(readEntries("   "), Entries{""});
}

TEST(RecentCodesFile, NulBytesAreDroppedFromTheLine) {
    EXPECT_EQ(readEntries(std::string("60\0"
                                      "0036\r\n",
                                      9)),
              Entries{"600036"});
    EXPECT_EQ(readEntries(std::string(" \0 600000 \0 \r\n", 14)), Entries{"600000"});
    // A line of NUL bytes is still a line.
    EXPECT_EQ(readEntries(std::string("600000\r\n\0\0", 10)), (Entries{"600000", ""}));
}

TEST(RecentCodesFile, ByteOrderMarkBytesStayPartOfTheFirstEntry) {
    EXPECT_EQ(readEntries("\xEF\xBB\xBF\"600036\"\r\n600000\r\n"), (Entries{"\xEF\xBB\xBF"
                                                                            "600036",
                                                                            "600000"}));
}

TEST(RecentCodesFile, LineOfAtMost254BytesIsKeptWhole) {
    std::string line = std::string(253, '6') + "\xB9"; // a lone lead byte at the very end
    EXPECT_EQ(readEntries(line + "\r\n"), Entries{line});
    // Spaces stripped from the end do not count towards the length.
    std::string code(250, '6');
    EXPECT_EQ(readEntries(code + std::string(1000, ' ') + "\r\n600000"), (Entries{code, "600000"}));
}

TEST(RecentCodesFile, LongLineIsCutTo254BytesWithoutSplittingACharacter) {
    // Odd alignment: a pair stands on bytes 253 and 254, so the cut drops it whole.
    std::string odd = "1" + repeat(guo, 1 << 20);
    Entries entries = readEntries(odd + "\r\n600000\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], odd.substr(0, 253));
    EXPECT_EQ(entries[1], "600000");

    std::string even = repeat(guo, 1 << 20);
    EXPECT_EQ(readEntries(even), Entries{even.substr(0, 254)});

    std::string ascii(1 << 20, '6');
    EXPECT_EQ(readEntries(ascii + "\n"), Entries{ascii.substr(0, 254)});
}

TEST(RecentCodesFile, QuotedLongLineKeeps254BytesOfItsText) {
    // The quotes come off before the cut, and spaces inside the line count.
    std::string text = std::string(250, '6') + std::string(10, ' ') + "1";
    EXPECT_EQ(readEntries("\"" + text + "\"\r\n"), Entries{text.substr(0, 254)});
}

TEST(RecentCodesFile, EntryIsWrittenQuotedAndEndedByCrLf) {
    EXPECT_EQ(formatLine("600036"), "\"600036\"\r\n");
    EXPECT_EQ(formatLine(""), "\"\"\r\n");
}

TEST(RecentCodesFile, WrittenEntriesReadBackUnchanged) {
    Entries entries = {"600036",
                       " 600000 ",
                       guo + "A" + guo,
                       "",
                       std::string(254, '6'),
                       std::string(253, '6') + "\xB9",
                       "\xEF\xBB\xBF"
                       "1A0001"};
    std::string file;
    for (const std::string& entry : entries)
        file += formatLine(entry);
    EXPECT_EQ(readEntries(file), entries);
}

TEST(QueryCode, TrimRemovesSpacesAtBothEndsOnly) {
    auto trimmed = [](const char* text) {
        CodeText code;
        code.assign(text);
        trimSpaces(code);
        return std::string(code.c_str(), code.size());
    };
    EXPECT_EQ(trimmed(" 600000 "), "600000");
    EXPECT_EQ(trimmed("  60 00  "), "60 00");
    EXPECT_EQ(trimmed("\t600000 "), "\t600000");
    EXPECT_EQ(trimmed("      "), "");
    EXPECT_EQ(trimmed(""), "");
}

TEST(QueryCode, OnlyLettersInUpperCaseAndDigitsOutsideDoubleByteCharactersAreKeys) {
    auto keys = [](const std::string& code, std::size_t capacity = 6) {
        char out[8] = {};
        return std::string(out, keysOfCode(code.data(), code.size(), isGbkLeadByte, out, capacity));
    };
    const std::pair<std::string, std::string> cases[] = {
        {"sh6000", "SH6000"},
        {"60.000", "60000"},
        {"6[0]0_", "600"},
        {"+-*/ ,", ""},
        // 丄 is 81 41: its trail byte is the letter A.
        {"\x81\x41"
         "6",
         "6"},
        {guo + "A", "A"},
        // A lead byte at the very end has no trail byte and is no key either.
        {"6\xB9", "6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keys(c.first), c.second) << c.first;
    EXPECT_EQ(keys("1234567", 6), "123456") << "no more than the capacity";
}

} // namespace
