// The bounded text buffers and the bytes of the window-handle file.
#include "base/fixed_text.h"
#include "stocklink/handle_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool isGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

std::size_t cut(const std::string& text, std::size_t limit) {
    return cutAtCharBoundary(text.data(), text.size(), limit, isGbkLeadByte);
}

TEST(CharBoundary, CutNeverSplitsADoubleByteCharacter) {
    std::string text = "A\xB9\xFA\xC4\xDA"; // A国内
    EXPECT_EQ(cut(text, 5), 5u);
    EXPECT_EQ(cut(text, 4), 3u);
    EXPECT_EQ(cut(text, 2), 1u);
    EXPECT_EQ(cut(text, 0), 0u);
    EXPECT_EQ(cut(text, 100), 5u);
}

TEST(CharBoundary, TrailBytesInTheLeadRangeAreReadFromTheStart) {
    // Every byte lies in the lead range; only counting from the start tells the pairs apart.
    std::string pairs = "\x81\x81\x81\x81\x81\x81";
    EXPECT_EQ(cut(pairs, 5), 4u);
    EXPECT_EQ(cut("A" + pairs, 6), 5u);
}

TEST(CharBoundary, LeadByteAtTheEndOfTheTextCountsAsOneByte) {
    EXPECT_EQ(cut("AB\xB9", 3), 3u);
    EXPECT_EQ(cut("AB\xB9", 2), 2u);
}

TEST(FixedText, KeepsWhatFitsTerminatedAndReportsTheCut) {
    FixedText<4> text;
    EXPECT_TRUE(text.assign("abc"));
    EXPECT_FALSE(text.append("de"));
    EXPECT_STREQ(text.c_str(), "abc");
    EXPECT_FALSE(text.push('x'));
    EXPECT_FALSE(text.assign("wxyz"));
    EXPECT_STREQ(text.c_str(), "wxy");
    text.setSize(100);
    EXPECT_EQ(text.size(), 3u);
    EXPECT_EQ(text.c_str()[3], '\0');
}

std::uint32_t decode(const std::string& file) {
    return handleFromFileBytes(reinterpret_cast<const unsigned char*>(file.data()), file.size());
}

TEST(HandleFile, FourBytesHoldTheHandleLeastSignificantFirst) {
    EXPECT_EQ(decode("\x78\x56\x34\x12"), 0x12345678u);
    EXPECT_EQ(decode("\xFE\xFF\xFF\xFF"), 0xFFFFFFFEu);
}

TEST(HandleFile, ShortFileGivesZeroHighBytesAndBytesAfterTheFourthAreIgnored) {
    EXPECT_EQ(decode(""), 0u);
    EXPECT_EQ(decode("\x78"), 0x78u);
    EXPECT_EQ(decode("\x78\x56\x34"), 0x345678u);
    EXPECT_EQ(decode("\x78\x56\x34\x12\x9A\xBC\xDE\xF0\x11\x22"), 0x12345678u);
}

TEST(HandleFile, WrittenHandleReadsBack) {
    for (std::uint32_t handle : {0u, 0x0001002Au, 0x80000000u, 0xFFFFFFFFu}) {
        unsigned char bytes[handleFileBytes + 1] = {0, 0, 0, 0, 0xAA};
        handleToFileBytes(handle, bytes);
        EXPECT_EQ(handleFromFileBytes(bytes, handleFileBytes), handle);
        EXPECT_EQ(bytes[handleFileBytes], 0xAA) << "wrote past the fourth byte";
    }
    unsigned char bytes[handleFileBytes];
    handleToFileBytes(0x12345678u, bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "\x78\x56\x34\x12");
}

// A 32-bit and a 64-bit Talvero share the file: the 64-bit one widens the value with its sign, as
// Windows does for window handles, and writes back the same four bytes.
TEST(HandleFile, HandlesCrossBetweenThirtyTwoAndSixtyFourBitPrograms) {
    constexpr bool wide = sizeof(std::uintptr_t) == 8;
    struct Case {
        std::uint32_t file;
        std::uint64_t handle;
    } cases[] = {
        {0x00000000u, 0},
        {0x0001002Au, 0x0001002Au},
        {0x7FFFFFFFu, 0x7FFFFFFFu},
        {0x80000000u, wide ? 0xFFFFFFFF80000000u : 0x80000000u},
        {0xFFFF1234u, wide ? 0xFFFFFFFFFFFF1234u : 0xFFFF1234u},
    };
    for (const Case& c : cases) {
        std::uintptr_t handle = handleFromFileValue(c.file);
        EXPECT_EQ(static_cast<std::uint64_t>(handle), c.handle) << std::hex << c.file;
        EXPECT_EQ(handleToFileValue(handle), c.file) << std::hex << c.file;
    }
}

} // namespace
