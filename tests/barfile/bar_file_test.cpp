#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "barfile/bar_file.h"
#include "barfile/date_order.h"
#include "barfile/price_checks.h"
#include "barfile/text_encoding.h"

namespace vlmstruct {
namespace {

struct GoodCase {
    const char* name;
    std::string text;
    std::vector<std::string> dates;
    std::vector<float> high, low;
    bool candles = false;
    bool reordered = false;
    std::vector<double> volume = {};
    bool allowNoDates = false;
};

void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

class ReadsWhatUsersHave : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ReadsWhatUsersHave, Bars) {
    const GoodCase& c = GetParam();
    ReadReport report;
    const BarSeries bars = parseBarText(c.text, "bars.csv", &report, {.allowNoDates = c.allowNoDates});
    // Prices by their bits: a negative zero is not the zero a file means.
    const auto bits = [](const std::vector<float>& v) {
        std::vector<std::uint32_t> out;
        for (const float f : v) out.push_back(std::bit_cast<std::uint32_t>(f));
        return out;
    };
    EXPECT_EQ(bars.dates, c.dates);
    EXPECT_EQ(bits(bars.high), bits(c.high));
    EXPECT_EQ(bits(bars.low), bits(c.low));
    EXPECT_EQ(bars.volume, c.volume);
    EXPECT_EQ(bars.hasCandles(), c.candles);
    EXPECT_EQ(report.reordered, c.reordered);
    EXPECT_EQ(report.noDates, c.dates.empty());
}

// "日期,开盘,最高,最低,收盘,成交量" in GBK.
const std::string kGbkHeader =
    "\xc8\xd5\xc6\xda,\xbf\xaa\xc5\xcc,\xd7\xee\xb8\xdf,\xd7\xee\xb5\xcd,\xca\xd5\xc5\xcc,"
    "\xb3\xc9\xbd\xbb\xc1\xbf\n";

// "date,high,low\n2024-01-31,2,1\n" as UTF-16 with its byte-order mark.
std::string utf16(bool littleEndian) {
    const std::string ascii = "date,high,low\r\n2024-01-31,2,1\r\n";
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) out += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

const std::vector<std::string> kTwoDays = {"2024-01-30", "2024-01-31"};

const std::vector<GoodCase> kGoodCases = {
        GoodCase{"Comma", "date,open,high,low,close\n2024-01-30,1,2,0.5,1.5\n2024-01-31,1,3,1,2\n", kTwoDays,
                 {2, 3}, {0.5f, 1}, true},
        GoodCase{"BomAndCrLf", "\xEF\xBB\xBF" "Date,High,Low\r\n2024/01/31,2,1\r\n", {"2024-01-31"}, {2}, {1}},
        GoodCase{"TabsAndCompactDates", "DATE\tHIGH\tLOW\tVOLUME\n20240131\t2\t1\t100\n", {"2024-01-31"}, {2},
                 {1}, false, false, {100}},
        // The same minute with and without seconds is one time; all are then shown with seconds.
        GoodCase{"TimesWithAndWithoutSeconds", "time;high;low\n2024-01-31 09:30;2;1\n2024-01-31 09:31:00;3;2\n",
                 {"2024-01-31 09:30:00", "2024-01-31 09:31:00"}, {2, 3}, {1, 2}},
        GoodCase{"TimesWithoutSecondsStayShort", "datetime,high,low\n2024-01-31T09:30,2,1\n2024-01-31 09:31,3,2\n",
                 {"2024-01-31 09:30", "2024-01-31 09:31"}, {2, 3}, {1, 2}},
        GoodCase{"WhiteSpace", "date  high   low\n2024-01-31  2  1\n\n2024-02-01 4 3\n",
                 {"2024-01-31", "2024-02-01"}, {2, 4}, {1, 3}},
        GoodCase{"ChineseUtf8", "日期,时间,开盘,最高,最低,收盘,成交量,成交额\n2024-01-31,10:00,1,2,1,2,5,9\n",
                 {"2024-01-31 10:00"}, {2}, {1}, true, false, {5}},
        GoodCase{"ChineseGbk", kGbkHeader + "2024-01-31,1,2,1,2,5\n", {"2024-01-31"}, {2}, {1}, true, false, {5}},
        // 0x80 is the euro sign in GBK: one byte that takes three of UTF-8.
        GoodCase{"GbkThatTriplesInUtf8", "date,name,high,low\n2024-01-31," + std::string(200, '\x80') + ",2,1\n",
                 {"2024-01-31"}, {2}, {1}},
        // Vendor exports: codes and turnover are never taken for dates or volumes.
        GoodCase{"TushareNewestFirst",
                 "ts_code,trade_date,open,high,low,close,vol,amount\n"
                 "000001.SZ,20240131,1,3,1,2,7,700\n000001.SZ,20240130,1,2,0.5,1.5,6,600\n",
                 kTwoDays, {2, 3}, {0.5f, 1}, true, true, {6, 7}},
        GoodCase{"ChineseVendorNames", "股票代码,交易日期,开盘价,最高价,最低价,收盘价,成交额\n1,2024-01-31,1,2,1,2,9\n",
                 {"2024-01-31"}, {2}, {1}, true},
        GoodCase{"TimeColumnWithWholeTimestamp", "date,time,high,low\n2024-01-31,2024-01-31 09:30:00,2,1\n",
                 {"2024-01-31 09:30:00"}, {2}, {1}},
        GoodCase{"NoDateColumnWhenAllowed", "high,low\n2,1\n3,2\n", {}, {2, 3}, {1, 2}, false, false, {}, true},
        GoodCase{"OutOfOrderIsSorted", "date,high,low\n2024-02-01,3,2\n2024-01-31,2,1\n",
                 {"2024-01-31", "2024-02-01"}, {2, 3}, {1, 2}, false, true},
        // Decimal text is rounded once, straight to the nearest float.
        GoodCase{"ExactFloat", "date,high,low\n2024-01-31,0.1,0.1\n", {"2024-01-31"}, {0.1f}, {0.1f}},
        GoodCase{"TinyExponentIsZero", "date,high,low\n2024-01-31,1e-50,-1e-50\n", {"2024-01-31"}, {0}, {0}},
        GoodCase{"FirstColumnOfAKindWins", "date,high,low,high\n2024-01-31,2,1,9\n", {"2024-01-31"}, {2}, {1}},
        GoodCase{"QuotedFields",
                 "\"date\",\"name\",\"high\",\"low\",\"volume\"\n"
                 "\"2024-01-30\",\"Acme, \"\"the\"\" firm\nsecond line\",\"2\",\"0.5\",\"1,234,567\"\n"
                 "2024-01-31,x,3,1,\"12,345.5\"\n",
                 kTwoDays, {2, 3}, {0.5f, 1}, false, false, {1234567, 12345.5f}},
        GoodCase{"BareCarriageReturns", "date,high,low\r2024-01-30,2,0.5\r2024-01-31,3,1\r", kTwoDays, {2, 3},
                 {0.5f, 1}},
        GoodCase{"RowsOfDelimitersSkipped", ",,\ndate,high,low\n2024-01-30,2,0.5\n , ,\n2024-01-31,3,1\n,,\n",
                 kTwoDays, {2, 3}, {0.5f, 1}},
        GoodCase{"TrailingDelimiterOnRowsOnly", "date,high,low\n2024-01-30,2,0.5,\n2024-01-31,3,1\n", kTwoDays,
                 {2, 3}, {0.5f, 1}},
        GoodCase{"TrailingDelimiterOnHeaderOnly", "date;high;low;\n2024-01-30;2;0.5\n2024-01-31;3;1;\n", kTwoDays,
                 {2, 3}, {0.5f, 1}},
        GoodCase{"SepLineNamesTheDelimiter", "sep=;\ndate;high;low;note,with,commas\n2024-01-31;2;1;a,b,c\n",
                 {"2024-01-31"}, {2}, {1}},
        // The byte-order mark before a quoted header is the file's, not the first name's.
        GoodCase{"BomBeforeQuotedHeader", "\xEF\xBB\xBF\"date\",\"high\",\"low\"\n\"2024-01-30\",\"2\",\"0.5\"\n",
                 {"2024-01-30"}, {2}, {0.5f}},
        GoodCase{"Utf16LittleEndian", utf16(true), {"2024-01-31"}, {2}, {1}},
        GoodCase{"Utf16BigEndian", utf16(false), {"2024-01-31"}, {2}, {1}}};

INSTANTIATE_TEST_SUITE_P(Files, ReadsWhatUsersHave, ::testing::ValuesIn(kGoodCases),
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
        // Whatever the input, a message stays short and holds no control characters.
        EXPECT_LT(message.size(), 1200u) << message;
        for (unsigned char c : message) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << message;
    }
}

const std::string kHeader = "date,open,high,low,close,volume\n";

const std::vector<BadCase> kBadCases = {
        BadCase{"Empty", "", {"bars.csv", "empty"}},
        BadCase{"BlankLinesOnly", "\n \n,,\n", {"bars.csv", "empty"}},
        BadCase{"HeaderOnly", "date,high,low\n", {"bars.csv", "no bars"}},
        BadCase{"MissingLowColumn", "date,high,close\n2024-01-31,2,1\n", {"bars.csv:1", "'low'", "'close'"}},
        BadCase{"NoDateColumn", "trade_day,high,low\n2024-01-31,2,1\n",
                {"bars.csv:1", "no date column", "'trade_day'", "trade_date", "--no-dates"}},
        BadCase{"NonNumericPrice", "date,high,low\n2024-01-31,2,1\n2024-02-01,abc,1\n",
                {"bars.csv:3:2", "'high'", "'abc'"}},
        BadCase{"TrailingGarbage", "date,high,low\n2024-01-31,2,1x\n", {"bars.csv:2:3", "'1x'"}},
        BadCase{"EmptyPrice", "date,high,low\n2024-01-31,,1\n", {"bars.csv:2:2", "empty"}},
        BadCase{"EmptyOptionalCell", kHeader + "2024-01-31,1,2,1,,5\n", {"bars.csv:2:5", "'close'", "empty"}},
        BadCase{"NanHigh", kHeader + "2024-01-31,1,nan,1,1,5\n", {"bars.csv:2:3", "not a finite number", "'nan'"}},
        BadCase{"InfLow", kHeader + "2024-01-31,1,2,-inf,1,5\n", {"bars.csv:2:4", "'-inf'"}},
        BadCase{"InfOpen", kHeader + "2024-01-31,inf,2,1,1,5\n", {"bars.csv:2:2", "'open'", "'inf'"}},
        BadCase{"NanVolume", kHeader + "2024-01-31,1,2,1,1,NaN\n", {"bars.csv:2:6", "'volume'", "'NaN'"}},
        BadCase{"OverflowsAFloat", kHeader + "2024-01-31,1,1e39,1,1,5\n", {"bars.csv:2:3", "'1e39'"}},
        BadCase{"BeyondEvenADouble", kHeader + "2024-01-31,1,2,1,1,1e999\n", {"bars.csv:2:6", "out of range"}},
        BadCase{"LowAboveHigh", "date,high,low\n2024-01-31,1.5,2\n", {"bars.csv:2:3", "low 2 is above high 1.5"}},
        BadCase{"February31", "date,high,low\n2024-02-31,2,1\n", {"bars.csv:2:1", "'2024-02-31'"}},
        BadCase{"February29NotLeap", "date,high,low\n2023-02-29,2,1\n", {"bars.csv:2:1", "'2023-02-29'"}},
        BadCase{"YearZero", "date,high,low\n0000-01-01,2,1\n", {"bars.csv:2:1", "'0000-01-01'"}},
        BadCase{"MonthThirteen", "date,high,low\n2024-13-01,2,1\n", {"bars.csv:2:1", "'2024-13-01'"}},
        BadCase{"Seconds99", "date,high,low\n2024-01-31 09:30:99,2,1\n", {"bars.csv:2:1", "'2024-01-31 09:30:99'"}},
        BadCase{"BadTimeColumn", "date,time,high,low\n2024-01-31,25:00,2,1\n", {"bars.csv:2:2", "'25:00'"}},
        BadCase{"TimeColumnOnAnotherDay", "date,time,high,low\n2024-01-31,2024-02-01 09:30,2,1\n",
                {"bars.csv:2:2", "another day"}},
        BadCase{"DuplicateDates", "date,high,low\n2024-01-31,2,1\n2024-01-31,3,2\n",
                {"bars.csv:3", "duplicate date 2024-01-31", "line 2"}},
        BadCase{"DuplicateAfterABlankLine", "date,high,low\n2024-01-31,2,1\n\n2024-01-31,3,2\n",
                {"bars.csv:4", "duplicate date 2024-01-31", "line 2"}},
        BadCase{"SameMinuteWrittenTwoWays", "date,high,low\n2024-01-31 09:30,2,1\n2024-01-31 09:30:00,3,2\n",
                {"bars.csv:3", "duplicate date 2024-01-31 09:30:00", "line 2"}},
        BadCase{"MixedDelimiters", "date,high,low\n2024-01-31;2;1\n",
                {"bars.csv:2", "expected 3 fields", "commas", "'2024-01-31;2;1'"}},
        BadCase{"WholeRowQuoted", "date,high,low\n\"2024-01-31,2,1\"\n", {"bars.csv:2", "one quoted field"}},
        BadCase{"DoubledQuoteIsAQuote", "date,high,low\n2024-01-31,\"10\"\"\",1\n", {"bars.csv:2:2", "'10\"'"}},
        // The text of every field with doubled quotes is kept while the record is read.
        BadCase{"DoubledQuotesInTwoFields", "date,high,low,note\n2024-01-31,\"1\"\"0\",\"\"\"1\",\"a\"\"\"\"b\"\n",
                {"bars.csv:2:2", "'1\"0'"}},
        BadCase{"TextAfterClosingQuote", "date,high,low\n2024-01-31,\"10\"5,1\n",
                {"bars.csv:2:2", "after a closing quote"}},
        BadCase{"QuoteNeverClosed", "date,high,low\n2024-01-31,\"10,1\n2024-02-01,2,1\n",
                {"bars.csv:2:2", "never closed"}},
        BadCase{"LineAfterAQuotedLineBreak", "date,high,low,note\n2024-01-31,2,1,\"a\nb\"\n2024-02-01,x,1,c\n",
                {"bars.csv:4:2", "'x'"}},
        BadCase{"ThousandsOnlyInVolume", kHeader + "2024-01-31,1,\"1,234\",1,1,5\n", {"bars.csv:2:3", "'1,234'"}},
        BadCase{"BadThousandsGrouping", kHeader + "2024-01-31,1,2,1,1,\"1,23,4\"\n", {"bars.csv:2:6", "'1,23,4'"}},
        BadCase{"FirstGroupOfFourDigits", kHeader + "2024-01-31,1,2,1,1,\"1234,567\"\n", {"bars.csv:2:6", "'1234,567'"}},
        BadCase{"LongTextIsCut", "date,high,low\n2024-01-31," + std::string(100000, '7') + "x,1\n",
                {"bars.csv:2:2", std::string(60, '7') + "... (100001 bytes)"}},
        BadCase{"ControlCharactersEscaped", "date,high,low\n2024-01-31,\x1b[2J,1\n", {"'\\x1b[2J'"}},
        // "来" in GBK is, byte for byte, an overlong form of '4' in UTF-8: the
        // text is GBK, and the message quotes the character it stands for.
        BadCase{"GbkThatLooksLikeOverlongUtf8", "date,high,low\n2024-01-31,\xc0\xb4,1\n", {"bars.csv:2:2", "'来'"}},
        BadCase{"NeitherUtf8NorGbk", "date,high,low\n\xff\xff,1,2\n", {"bars.csv", "GBK"}},
        // Where each reading breaks: UTF-8 at the 0xFF (byte 33), GBK one byte
        // before it, at the lead 0x82 that 0xFF cannot follow.
        BadCase{"NeitherSaysWhereEachBreaks", "date,high,low\n2024-01-31,2,1,\xe3\x81\x82\xff\n",
                {"bars.csv", "UTF-8 (broken at byte 33)", "GBK text (byte 32)"}},
        // A sequence the text ends in: UTF-8 breaks at its lead.
        BadCase{"NeitherWithASequenceCutShort", "date,high,low\n2024-01-31,2,1\n\xe6",
                {"bars.csv", "UTF-8 (broken at byte 30)", "GBK text (byte 30)"}},
        BadCase{"Utf16WithoutByteOrderMark", std::string("d\0a\0t\0e\0", 8), {"bars.csv", "NUL", "UTF-16"}},
        BadCase{"Utf16CutShort", "\xFF\xFE" "d", {"bars.csv", "odd number of bytes"}}};

INSTANTIATE_TEST_SUITE_P(Files, RefusesBadInput, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What a read gave: the bars and the report, or the message.
struct Outcome {
    std::vector<std::string> dates;
    std::vector<float> open, high, low, close;
    std::vector<double> volume;
    bool reordered = false, noDates = false;
    std::string encoding, error;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << (o.error.empty() ? std::to_string(o.high.size()) + " bars" : o.error);
}

template <typename Read>
Outcome outcomeOf(Read read) {
    Outcome o;
    try {
        ReadReport report;
        const BarSeries bars = read(report);
        o.dates = bars.dates;
        // Packed dates read back as the text they stand for.
        for (std::size_t i = 0; i < bars.stamps.size(); ++i) o.dates.push_back(bars.date(i));
        o.open = bars.open;
        o.high = bars.high;
        o.low = bars.low;
        o.close = bars.close;
        o.volume = bars.volume;
        o.reordered = report.reordered;
        o.noDates = report.noDates;
        o.encoding = report.encoding;
    } catch (const BarFileError& e) {
        o.error = e.what();
    }
    return o;
}

// A file is read in blocks: wherever a block ends (inside a quoted field, between
// CR and LF, in a UTF-8 sequence, in the first line), and with dates packed or
// not, the bars and every message are those of the text read whole.
TEST(BarFile, ReadInBlocksAsWhole) {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const GoodCase& c : kGoodCases) texts.emplace_back(c.name, c.text);
    for (const BadCase& c : kBadCases) texts.emplace_back(c.name, c.text);
    texts.emplace_back("BlankLinesBeforeTheHeader", "\n\r\n , \r\r\ndate,high,low\r\n2024-01-31,2,1\r\n");
    texts.emplace_back("DuplicateAfterMultiLineFields",
                       "date,note,high,low\n2024-01-30,\"a\nb\nc\",2,1\n\n2024-01-31,x,2,1\n2024-01-30,y,2,1\n");
    texts.emplace_back("CrLfLinesCounted", "date,high,low\r\n2024-01-30,2,1\r\n2024-01-31,2,1\r\n\r\n2024-02-01,x,1\r\n");
    texts.emplace_back("QuoteErrorAfterABadRow", "date,high,low\n2024-01-31,x,1\n2024-02-01,\"2\"z,1\n");
    texts.emplace_back("NulAfterABadRow", std::string("date,high,low\n2024-01-31,x,1\n\0\n", 31));
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("bar_file_blocks_" + std::to_string(::getpid()) + ".csv");
    for (const auto& [name, text] : texts) {
        const Outcome whole = outcomeOf([&](ReadReport& r) { return parseBarText(text, file.string(), &r, {.allowNoDates = true}); });
        {
            std::ofstream out(file, std::ios::binary);
            out << text;
        }
        std::vector<std::size_t> blocks(48);
        std::iota(blocks.begin(), blocks.end(), std::size_t{1});
        blocks.push_back(std::size_t{1} << 20);
        for (const std::size_t block : blocks) {
            for (const bool packed : {false, true}) {
                const ReadOptions options{.allowNoDates = true, .packedDates = packed, .blockBytes = block};
                EXPECT_EQ(outcomeOf([&](ReadReport& r) { return readBarFile(file, &r, options); }), whole)
                    << name << ", blocks of " << block << (packed ? ", packed dates" : "");
            }
        }
    }
    std::filesystem::remove(file);
}

// Rows read as a feed appends them, from any line on, are the whole file's
// bars from there, and a bad one is refused with the whole file's words
// (its line and column in the file).
TEST(BarFile, RowsAppendedReadAsTheWholeFile) {
    const std::string texts[] = {
        "sep=;\r\ndate;high;low;close\r\n2024-01-02;2;1;1.5\r\n\r\n2024-01-03;3;2;2.5\r\n2024-01-04;4;3;3.5\r\n",
        "\xEF\xBB\xBF" "date,time,high,low\n2024-01-02,09:31,2,1\n2024-01-02,09:32,\"3\",2\n2024-01-02,09:33,3,1\n",
        "date,high,low\n2024-01-02,2,1\n\n2024-01-03,2,x\n",
    };
    const auto lineEnd = [](std::string_view text, std::size_t from) { return text.find('\n', from) + 1; };
    for (const std::string& text : texts) {
        std::string failure;
        BarSeries whole;
        try {
            whole = parseBarText(text, "f.csv", nullptr, {.packedDates = true});
        } catch (const BarFileError& e) {
            failure = e.what();
        }
        ReadReport report;
        const std::size_t headerLine = text.starts_with("sep=") ? 2 : 1;
        std::size_t headEnd = 0;
        for (std::size_t k = 0; k < headerLine; ++k) headEnd = lineEnd(text, headEnd);
        const std::string_view head = std::string_view(text).substr(0, headEnd);
        std::size_t line = headerLine + 1, bars = 0;
        for (std::size_t at = headEnd; at < text.size(); at = lineEnd(text, at), ++line) {
            const std::string_view rows = std::string_view(text).substr(at);
            if (!failure.empty()) {
                if (at == headEnd) {
                    try {
                        parseBarRows(head, rows, line, "f.csv");
                        ADD_FAILURE() << "accepted: " << text;
                    } catch (const BarFileError& e) {
                        EXPECT_EQ(e.what(), failure);
                    }
                }
                continue;
            }
            const BarSeries tail = parseBarRows(head, rows, line, "f.csv");
            ASSERT_EQ(tail.size(), whole.size() - bars) << text << " from line " << line;
            for (std::size_t k = 0; k < tail.size(); ++k) {
                EXPECT_TRUE(tail.stamps[k] == whole.stamps[bars + k] && tail.high[k] == whole.high[bars + k] &&
                            tail.low[k] == whole.low[bars + k])
                    << text << " from line " << line << ", row " << k;
            }
            bars += parseBarRows(head, rows.substr(0, lineEnd(rows, 0)), line, "f.csv").size();
        }
        // From the start, the header among the rows.
        if (failure.empty()) {
            EXPECT_EQ(parseBarRows({}, text, 1, "f.csv", {}, &report).size(), whole.size());
            EXPECT_EQ(report.headerLine, headerLine);
        }
    }
    // A whole file may be GBK; rows appended are read as the UTF-8 they must be.
    try {
        parseBarRows("date,high,low\n", "2024-01-02,2,1\n2024-01-03,2,\xC0\n", 2, "f.csv");
        ADD_FAILURE() << "a row not UTF-8 accepted";
    } catch (const BarFileError& e) {
        EXPECT_EQ(std::string(e.what()), "f.csv:3: not UTF-8 text (rows read as they are appended must be UTF-8)");
    }
}

// Without opens and volumes kept, or without the volumes alone, every file
// reads as before but for those columns, and every bad file, a bad open or
// volume among them, is refused with the same message.
TEST(BarFile, OpensAndVolumesCheckedWhenNotKept) {
    std::vector<std::string> texts;
    for (const GoodCase& c : kGoodCases) texts.push_back(c.text);
    for (const BadCase& c : kBadCases) texts.push_back(c.text);
    texts.push_back("date,open,high,low,close,volume\n2024-01-30,1,2,1,2,5\n2024-01-31,x,2,1,2,5\n");
    texts.push_back("date,open,high,low,close,volume\n2024-01-30,1,2,1,2,5\n2024-01-31,1,2,1,2,inf\n");
    std::size_t withOpens = 0, withVolumes = 0;
    for (const std::string& text : texts) {
        Outcome all = outcomeOf([&](ReadReport& r) { return parseBarText(text, "bars.csv", &r, {.allowNoDates = true}); });
        const Outcome some = outcomeOf([&](ReadReport& r) {
            return parseBarText(text, "bars.csv", &r, {.allowNoDates = true, .keepOpenAndVolume = false});
        });
        const Outcome noVolume = outcomeOf([&](ReadReport& r) {
            return parseBarText(text, "bars.csv", &r, {.allowNoDates = true, .keepVolume = false});
        });
        withOpens += all.open.empty() ? 0 : 1;
        withVolumes += all.volume.empty() ? 0 : 1;
        all.volume.clear();
        EXPECT_EQ(noVolume, all) << text;
        all.open.clear();
        EXPECT_EQ(some, all) << text;
    }
    EXPECT_GT(withOpens, 3u);
    EXPECT_GT(withVolumes, 3u);
}

TEST(BarFile, MissingFileNamesIt) {
    try {
        readBarFile("/nonexistent/bars.csv");
        FAIL();
    } catch (const BarFileError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/bars.csv"), std::string::npos);
    }
}

TEST(Dates, Normalised) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"2024-1-5", "2024-01-05"},
        {"2024.01.05", "2024-01-05"},
        {"2024-01-31T09:30:15", "2024-01-31 09:30:15"},
        {"2024-02-29", "2024-02-29"},
        {"2000-02-29", "2000-02-29"},
        {"1900-02-29", std::nullopt},
        {"2024-04-31", std::nullopt},
        {"2024/01/31 9:30", std::nullopt},
        {"31/01/2024", std::nullopt},
        {"2024-01-31 24:00", std::nullopt},
        {"2024/01/31 24:00", std::nullopt},
        {"2024-001-05", std::nullopt},
        {"0000/01/05", std::nullopt},
        {"2024-01-31 23:60", std::nullopt},
        {"2024-01-31 ", "2024-01-31"},
        {"2024-01-31T", std::nullopt},
        {"20241301", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(normaliseDate(text), expected) << text;
}

// The usual layout read a character at a time, as its rule is written: the
// length and separators, then every place a digit, then a day and time that exist.
FixedDate fixedByCharacters(std::string_view s, DateTime& into) {
    const std::size_t n = s.size();
    if (!((n == 10 || n == 16 || n == 19) && s[4] == '-' && s[7] == '-' &&
          (n == 10 || ((s[10] == ' ' || s[10] == 'T') && s[13] == ':' && (n == 16 || s[16] == ':'))))) {
        return FixedDate::Other;
    }
    auto pair = [&](std::size_t at) {
        const bool digits = s[at] >= '0' && s[at] <= '9' && s[at + 1] >= '0' && s[at + 1] <= '9';
        return digits ? (s[at] - '0') * 10 + (s[at + 1] - '0') : -1;
    };
    const int values[] = {pair(0), pair(2), pair(5), pair(8), n > 10 ? pair(11) : 0, n > 10 ? pair(14) : 0,
                          n == 19 ? pair(17) : 0};
    for (const int v : values) {
        if (v < 0) return FixedDate::Other;
    }
    DateTime d;
    d.year = values[0] * 100 + values[1];
    d.month = values[2];
    d.day = values[3];
    d.hour = values[4];
    d.minute = values[5];
    d.second = values[6];
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > monthDays[d.month - 1] || d.hour > 23 ||
        d.minute > 59 || d.second > 59) {
        return FixedDate::Invalid;
    }
    d.hasTime = n > 10;
    d.hasSeconds = n == 19;
    into = d;
    return FixedDate::Valid;
}

// Every text near the layout, each place changed to characters that break
// it or only just keep it, and random texts of its lengths: the same answer,
// the same date, and nothing written for a text that is not a valid date.
TEST(Dates, FixedLayoutAsCharacterByCharacter) {
    const std::string bases[] = {"2024-02-29 23:59:59", "1900-02-29 00:00:00", "2000-02-29 12:30:15",
                                 "0000-01-01 00:00:00", "9999-12-31 23:59:59", "2023-04-31 09:30:00",
                                 "2024-13-01 09:30:00", "2024-00-10 09:30:00", "2024-01-00 24:00:00",
                                 "2024-01-01T12:60:00", "2024-01-01 12:30:60", "2023-02-28T19:09:09"};
    const char replacements[] = {'0', '1', '2', '3', '9', '/', '0' - 1, '9' + 1, '-', ':', ' ', 'T', 't',
                                 'a', '\0', '\x80', '\xb0', '\xff', '\x7f'};
    std::vector<std::string> texts;
    for (const std::string& base : bases) {
        for (const std::size_t n : {10u, 16u, 19u}) {
            const std::string cut = base.substr(0, n);
            texts.push_back(cut);
            for (std::size_t i = 0; i < n; ++i) {
                for (const char c : replacements) {
                    std::string changed = cut;
                    changed[i] = c;
                    texts.push_back(changed);
                }
            }
        }
        for (const std::size_t n : {0u, 9u, 11u, 15u, 17u, 18u, 20u}) texts.push_back(base.substr(0, n) + std::string(n > 19 ? 1 : 0, '0'));
    }
    std::mt19937 random(5);
    const std::string alphabet = "0123456789-: T";
    for (int k = 0; k < 30000; ++k) {
        std::string text(k % 3 == 0 ? 10 : k % 3 == 1 ? 16 : 19, '0');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        texts.push_back(text);
    }
    int answers[3] = {0, 0, 0};
    for (const std::string& text : texts) {
        DateTime got, want;
        got.year = want.year = -7;  // a mark that must stay where the text is not a valid date
        const FixedDate expected = fixedByCharacters(text, want);
        ASSERT_EQ(readFixedDateTime(text, got), expected) << text;
        EXPECT_TRUE(got.year == want.year && got.month == want.month && got.day == want.day &&
                    got.hour == want.hour && got.minute == want.minute && got.second == want.second &&
                    got.hasTime == want.hasTime && got.hasSeconds == want.hasSeconds)
            << text;
        ++answers[static_cast<int>(expected)];
    }
    for (const int count : answers) EXPECT_GT(count, 100);
}

TEST(DateOrder, SortsStablyAndFindsTheFirstDuplicate) {
    const std::vector<std::int64_t> ascending = {1, 2, 3};
    EXPECT_TRUE(orderByDate(std::span<const std::int64_t>(ascending)).order.empty());
    const std::vector<std::int64_t> newestFirst = {3, 2, 1};
    EXPECT_EQ(orderByDate(std::span<const std::int64_t>(newestFirst)).order, (std::vector<std::size_t>{2, 1, 0}));
    const std::vector<std::int64_t> repeated = {5, 2, 9, 2, 5};
    const DateOrder order = orderByDate(std::span<const std::int64_t>(repeated));
    ASSERT_TRUE(order.duplicate);
    EXPECT_EQ(*order.duplicate, (std::pair<std::size_t, std::size_t>{1, 3}));  // 2 comes before 5
}

TEST(Prices, FirstProblemInRowOrder) {
    const std::vector<float> high = {2, 2, 2}, low = {1, 3, 1}, close = {1, 1, std::nanf("")};
    const auto problem = checkPrices({.high = high, .low = low, .close = close});
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->row, 1u);
    EXPECT_EQ(problem->column, Column::Low);
    const std::vector<float> fine = {1, 1, 1};
    EXPECT_FALSE(checkPrices({.high = high, .low = fine, .close = fine}));
}

}  // namespace
}  // namespace vlmstruct
