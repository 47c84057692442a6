#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bar_file.h"

namespace vlmstruct {
namespace {

struct GoodCase {
    const char* name;
    std::string text;
    std::vector<std::string> dates;
    std::vector<float> high, low;
    bool candles;
    bool reordered;
};

void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

class ReadsWhatUsersHave : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ReadsWhatUsersHave, Bars) {
    const GoodCase& c = GetParam();
    ReadReport report;
    const BarSeries bars = parseBarText(c.text, "bars.csv", &report);
    EXPECT_EQ(bars.dates, c.dates);
    EXPECT_EQ(bars.high, c.high);
    EXPECT_EQ(bars.low, c.low);
    EXPECT_EQ(bars.hasCandles(), c.candles);
    EXPECT_EQ(report.reordered, c.reordered);
}

// "日期,开盘,最高,最低,收盘,成交量" in GBK.
const std::string kGbkHeader =
    "\xc8\xd5\xc6\xda,\xbf\xaa\xc5\xcc,\xd7\xee\xb8\xdf,\xd7\xee\xb5\xcd,\xca\xd5\xc5\xcc,"
    "\xb3\xc9\xbd\xbb\xc1\xbf\n";

INSTANTIATE_TEST_SUITE_P(
    Files, ReadsWhatUsersHave,
    ::testing::Values(
        GoodCase{"Comma", "date,open,high,low,close\n2024-01-30,1,2,0.5,1.5\n2024-01-31,1,3,1,2\n",
                 {"2024-01-30", "2024-01-31"}, {2, 3}, {0.5f, 1}, true, false},
        GoodCase{"BomAndCrLf", "\xEF\xBB\xBF" "Date,High,Low\r\n2024/01/31,2,1\r\n",
                 {"2024-01-31"}, {2}, {1}, false, false},
        GoodCase{"TabsAndCompactDates", "DATE\tHIGH\tLOW\tVOLUME\n20240131\t2\t1\t100\n",
                 {"2024-01-31"}, {2}, {1}, false, false},
        GoodCase{"Semicolons", "time;high;low\n2024-01-31 09:30;2;1\n2024-01-31 09:31:00;3;2\n",
                 {"2024-01-31 09:30", "2024-01-31 09:31:00"}, {2, 3}, {1, 2}, false, false},
        GoodCase{"WhiteSpace", "date  high   low\n2024-01-31  2  1\n\n2024-02-01 4 3\n",
                 {"2024-01-31", "2024-02-01"}, {2, 4}, {1, 3}, false, false},
        GoodCase{"ChineseUtf8",
                 "日期,时间,开盘,最高,最低,收盘,成交量,成交额\n2024-01-31,10:00,1,2,1,2,5,9\n",
                 {"2024-01-31 10:00"}, {2}, {1}, true, false},
        GoodCase{"ChineseGbk", kGbkHeader + "2024-01-31,1,2,1,2,5\n", {"2024-01-31"}, {2}, {1},
                 true, false},
        GoodCase{"NoDateColumn", "high,low\n2,1\n3,2\n", {}, {2, 3}, {1, 2}, false, false},
        GoodCase{"OutOfOrderIsSorted", "date,high,low\n2024-02-01,3,2\n2024-01-31,2,1\n",
                 {"2024-01-31", "2024-02-01"}, {2, 3}, {1, 2}, false, true},
        // Decimal text is rounded once, straight to the nearest float.
        GoodCase{"ExactFloat", "high,low\n0.1,16777217\n", {}, {0.1f}, {16777216.0f}, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    std::string text;
    std::vector<std::string> messageParts;  // each must appear in the error
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class RefusesBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(RefusesBadInput, WithAClearMessage) {
    try {
        parseBarText(GetParam().text, "bars.csv");
        FAIL() << "accepted";
    } catch (const BarFileError& e) {
        const std::string message = e.what();
        for (const std::string& part : GetParam().messageParts) {
            EXPECT_NE(message.find(part), std::string::npos) << message << " lacks " << part;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusesBadInput,
    ::testing::Values(
        BadCase{"Empty", "", {"bars.csv", "empty"}},
        BadCase{"BlankLinesOnly", "\n \n", {"bars.csv", "empty"}},
        BadCase{"HeaderOnly", "date,high,low\n", {"bars.csv", "no bars"}},
        BadCase{"MissingLowColumn", "date,high,close\n2024-01-31,2,1\n", {"bars.csv:1", "'low'"}},
        BadCase{"NonNumericPrice", "date,high,low\n2024-01-31,2,1\n2024-02-01,abc,1\n",
                {"bars.csv:3:2", "'high'", "'abc'"}},
        BadCase{"TrailingGarbage", "date,high,low\n2024-01-31,2,1x\n", {"bars.csv:2:3", "'1x'"}},
        BadCase{"EmptyPrice", "date,high,low\n2024-01-31,,1\n", {"bars.csv:2:2"}},
        BadCase{"BadDate", "date,high,low\n2024-13-01,2,1\n", {"bars.csv:2:1", "'2024-13-01'"}},
        BadCase{"DuplicateDates", "date,high,low\n2024-01-31,2,1\n2024-01-31,3,2\n",
                {"bars.csv:3", "duplicate date 2024-01-31", "line 2"}},
        BadCase{"MixedDelimiters", "date,high,low\n2024-01-31;2;1\n",
                {"bars.csv:2", "expected 3 fields", "commas", "'2024-01-31;2;1'"}},
        BadCase{"NeitherUtf8NorGbk", "date,high,low\n\xff\xff,1,2\n", {"bars.csv", "GBK"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BarFile, MissingFileNamesIt) {
    try {
        readBarFile("/nonexistent/bars.csv");
        FAIL();
    } catch (const BarFileError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/bars.csv"), std::string::npos);
    }
}

TEST(Dates, Normalised) {
    EXPECT_EQ(normaliseDate("2024-1-5"), "2024-01-05");
    EXPECT_EQ(normaliseDate("2024/01/31 9:30"), std::nullopt);
    EXPECT_EQ(normaliseDate("2024-01-31T09:30:15"), "2024-01-31 09:30:15");
    EXPECT_EQ(normaliseDate("31/01/2024"), std::nullopt);
    EXPECT_EQ(normaliseDate("2024-01-31 24:00"), std::nullopt);
}

}  // namespace
}  // namespace vlmstruct
