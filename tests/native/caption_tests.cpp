// The terminal's caption: its comma fields and the active chart's title taken from them.
#include "termlink/caption.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

Fields fieldsOf(const std::string& text) {
    Fields fields;
    CommaFields reader(text.data(), text.size());
    TextView field;
    while (reader.next(field))
        fields.emplace_back(field.data, field.size);
    return fields;
}

struct Title {
    std::string text;
    bool whole;
};

Title titleOf(std::string caption) {
    ChartTitle title;
    bool whole = chartTitleFromCaption(&caption[0], caption.size(), title);
    return {std::string(title.c_str(), title.size()), whole};
}

std::string titleText(const std::string& caption) {
    Title title = titleOf(caption);
    EXPECT_TRUE(title.whole) << caption;
    return title.text;
}

// 国内A股,Daily (offline) in GBK: the offline chart of the A-share data.
const std::string offlineDailyChart = "\xB9\xFA\xC4\xDA"
                                      "A\xB9\xC9,Daily (offline)";

TEST(CommaFields, SplitsAtEachCommaAndDropsTheBlanksBesideIt) {
    EXPECT_EQ(fieldsOf("EURUSD,H1"), (Fields{"EURUSD", "H1"}));
    EXPECT_EQ(fieldsOf("  EURUSD  ,  H1  "), (Fields{"EURUSD", "H1"}));
    EXPECT_EQ(fieldsOf("a b , c\td\t"), (Fields{"a b", "c\td\t"}));
}

TEST(CommaFields, QuotedFieldKeepsItsCommasAndDropsWhatFollowsTheClosingQuote) {
    EXPECT_EQ(fieldsOf("\"a,b\",c"), (Fields{"a,b", "c"}));
    EXPECT_EQ(fieldsOf("  \" a , b \" tail,c"), (Fields{" a , b ", "c"}));
    EXPECT_EQ(fieldsOf("x,\"\",y"), (Fields{"x", "", "y"}));
    // A quote inside an unquoted field is plain text.
    EXPECT_EQ(fieldsOf("a\"b,c\""), (Fields{"a\"b", "c\""}));
}

TEST(CommaFields, MissingClosingQuoteRunsToTheEnd) {
    EXPECT_EQ(fieldsOf("x,\"a,b,c"), (Fields{"x", "a,b,c"}));
    EXPECT_EQ(fieldsOf("\""), Fields{""});
}

TEST(CommaFields, CommaAtTheEndIsFollowedByOneEmptyField) {
    EXPECT_EQ(fieldsOf("EURUSD,"), (Fields{"EURUSD", ""}));
    EXPECT_EQ(fieldsOf("\"a\" x,"), (Fields{"a", ""}));
    EXPECT_EQ(fieldsOf(",,"), (Fields{"", "", ""}));
}

TEST(CommaFields, EmptyOrBlankTextIsOneEmptyField) {
    EXPECT_EQ(fieldsOf(""), Fields{""});
    EXPECT_EQ(fieldsOf("   "), Fields{""});
}

TEST(ChartTitle, BracketedSymbolAndPeriodAtTheEndOfTheCaptionNameTheChart) {
    EXPECT_EQ(titleText("12345678: Demo Account - [EURUSD,H1]"), "EURUSD,H1");
    EXPECT_EQ(titleText("12345678: Demo Account - [EURUSD, H1] "), "EURUSD,H1");
    EXPECT_EQ(titleText("12345678 - [EURUSD ,H1]"), "EURUSD,H1");
}

TEST(ChartTitle, OfflineChartOfTheAShareSymbolKeepsItsGbkBytes) {
    EXPECT_EQ(titleText("12345678: Offline - [" + offlineDailyChart + "]"), offlineDailyChart);
}

TEST(ChartTitle, HyphensAnywhereAreReadAsCommas) {
    // Only the last two fields count, so hyphens in the server's name change nothing...
    EXPECT_EQ(titleText("12345678: Broker-Demo-Server-3 - [EURUSD,H1]"), "EURUSD,H1");
    // ...while a hyphen in the symbol splits it.
    EXPECT_EQ(titleText("12345678: Demo - [BTC-USD,H1]"), "USD,H1");

    std::string caption = "Demo - [BTC-USD,H1]";
    ChartTitle title;
    chartTitleFromCaption(&caption[0], caption.size(), title);
    EXPECT_EQ(caption, "Demo , [BTC,USD,H1]");
}

TEST(ChartTitle, BracketsAreRemovedFromTheirOwnFieldOnly) {
    EXPECT_EQ(titleText("x - [[EUR]USD,H1[]]"), "EUR]USD,H1[");
}

TEST(ChartTitle, QuotedFieldsCountAsOneField) {
    EXPECT_EQ(titleText("Demo - \"[EURUSD,H1]\",\"M5\" tail"), "EURUSD,H1],M5");
    EXPECT_EQ(titleText("Demo - [EURUSD,\"H1]"), "EURUSD,H1");
}

TEST(ChartTitle, CaptionWithOneFieldGivesAnEmptySymbol) {
    EXPECT_EQ(titleText(""), ",");
    EXPECT_EQ(titleText("Terminal"), ",Terminal");
}

TEST(ChartTitle, TrailingCommaGivesAnEmptyPeriod) {
    EXPECT_EQ(titleText("Demo - [EURUSD,"), "EURUSD,");
    EXPECT_EQ(titleText("Demo -"), "Demo,");
}

TEST(ChartTitle, LongCaptionsAreReadToTheirLastTwoFields) {
    std::string account(64 * 1024, 'x');
    EXPECT_EQ(titleText(account + " - [EURUSD,H1]"), "EURUSD,H1");
    EXPECT_EQ(titleText(std::string(64 * 1024, ',')), ",");
    EXPECT_EQ(titleText(std::string(64 * 1024, '"')), ",");
    std::string mixed;
    while (mixed.size() < 64 * 1024)
        mixed += "\"[x,-]\" ,";
    EXPECT_EQ(titleText(mixed + "\"a\"b,c"), "a,c");
}

TEST(ChartTitle, TitleLongerThanTheBufferIsCutAndReported) {
    std::string symbol(600, 'S');
    Title cut = titleOf("Demo - [" + symbol + ",H1]");
    EXPECT_FALSE(cut.whole);
    EXPECT_EQ(cut.text, symbol.substr(0, ChartTitle::maxSize));

    std::string period(600, 'P');
    cut = titleOf("Demo - [EURUSD," + period + "]");
    EXPECT_FALSE(cut.whole);
    EXPECT_EQ(cut.text, ("EURUSD," + period).substr(0, ChartTitle::maxSize));

    std::string half(255, 'S');
    Title fits = titleOf("[" + half + "," + half + "]");
    EXPECT_TRUE(fits.whole);
    EXPECT_EQ(fits.text.size(), ChartTitle::maxSize);
}

} // namespace
