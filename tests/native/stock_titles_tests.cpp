// Recognising the stock program's main window by its title.
#include "stocklink/stock_titles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool namesStockProgram(const std::string& title) {
    return titleNamesStockProgram(title.data(), title.size());
}

const std::string firstTitle = stockTitles[0];
const std::string secondTitle = stockTitles[1];

TEST(StockTitles, EachTitleIs19GbkBytesAroundASpacedHyphen) {
    for (const std::string& title : {firstTitle, secondTitle}) {
        EXPECT_EQ(title.size(), 19u);
        EXPECT_EQ(title.substr(10, 3), " - ");
    }
}

TEST(StockTitles, EitherTitleMatchesAnywhereInAWindowTitle) {
    EXPECT_TRUE(namesStockProgram(firstTitle));
    EXPECT_TRUE(namesStockProgram(secondTitle));
    // 飞狐交易师 - 缠友版 [600036 浦发银行]: the program puts the stock behind its name.
    EXPECT_TRUE(namesStockProgram(
        "\xB7\xC9\xBA\xFC\xBD\xBB\xD2\xD7\xCA\xA6 - \xB2\xF8\xD3\xD1\xB0\xE6 [600036 "
        "\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0]"));
    EXPECT_TRUE(namesStockProgram("[" + secondTitle + "]"));
    EXPECT_TRUE(namesStockProgram(std::string("x\0y ", 4) + firstTitle));
}

TEST(StockTitles, NearMissesDoNotMatch) {
    // 飞狐交易师－缠友版 with a full-width hyphen.
    EXPECT_FALSE(namesStockProgram(
        "\xB7\xC9\xBA\xFC\xBD\xBB\xD2\xD7\xCA\xA6\xA3\xAD\xB2\xF8\xD3\xD1\xB0\xE6"));
    // 股道黄金版-普及版 without the spaces.
    EXPECT_FALSE(namesStockProgram("\xB9\xC9\xB5\xC0\xBB\xC6\xBD\xF0\xB0\xE6-"
                                   "\xC6\xD5\xBC\xB0\xB0\xE6"));
    EXPECT_FALSE(namesStockProgram(firstTitle.substr(0, 18)));
    EXPECT_FALSE(namesStockProgram(secondTitle.substr(1)));
    EXPECT_FALSE(namesStockProgram(firstTitle.substr(0, 13) + secondTitle.substr(13)));
    EXPECT_FALSE(namesStockProgram(""));
}

TEST(StockTitles, OnlyTheGivenBytesAreSearched) {
    std::string title = "Chart " + firstTitle;
    EXPECT_FALSE(titleNamesStockProgram(title.data(), title.size() - 1));
    EXPECT_TRUE(titleNamesStockProgram(title.data(), title.size()));
}

} // namespace
