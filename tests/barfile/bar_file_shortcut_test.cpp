// Plain rows take a shortcut past the general splitter; every file must read
// exactly as with the shortcut off: the same bits in every column, the same
// dates and report, or the same message.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "barfile/bar_file.h"
#include "barfile/text_encoding.h"

namespace vlmstruct {
namespace {

struct Read {
    std::vector<std::string> dates;
    std::vector<std::vector<std::uint64_t>> columns;  // open, high, low, close, volume as bits
    bool reordered = false, noDates = false;
    std::string encoding, error;
    friend bool operator==(const Read&, const Read&) = default;
};

std::ostream& operator<<(std::ostream& os, const Read& r) { return os << r.dates.size() << " dates " << r.error; }

// In memory, or from `file` in blocks of `block` bytes when that is not 0.
// Opens and volumes are read and checked either way, and kept when `keep` is set.
Read readWith(const std::string& text, bool shortcut, std::size_t block, const std::filesystem::path& file,
              bool keep = true) {
    Read r;
    const ReadOptions options{
        .allowNoDates = true, .blockBytes = block, .plainRowShortcut = shortcut, .keepOpenAndVolume = keep};
    try {
        ReadReport report;
        const BarSeries bars =
            block == 0 ? parseBarText(text, file.string(), &report, options) : readBarFile(file, &report, options);
        for (std::size_t i = 0; i < bars.size(); ++i) r.dates.push_back(bars.date(i));
        for (const auto* column : {&bars.open, &bars.high, &bars.low, &bars.close}) {
            r.columns.emplace_back();
            for (const float v : *column) r.columns.back().push_back(std::bit_cast<std::uint32_t>(v));
        }
        r.columns.emplace_back();
        for (const double v : bars.volume) r.columns.back().push_back(std::bit_cast<std::uint64_t>(v));
        r.reordered = report.reordered;
        r.noDates = report.noDates;
        r.encoding = report.encoding;
    } catch (const BarFileError& e) {
        r.error = e.what();
    }
    return r;
}

const std::string kHeader = "date,open,high,low,close,volume\n";

std::string twoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// A good row for hour i of 2024, written in one of several ways, most of
// which the shortcut leaves to the general path.
std::string goodRow(int i, unsigned style = 0) {
    const std::string at = "2024-" + twoDigits(1 + i / (24 * 28)) + "-" + twoDigits(1 + i / 24 % 28) + " " +
                           twoDigits(i % 24) + ":30";
    const std::string low = std::to_string(9 + i % 2) + ".75";
    switch (style % 8) {
        case 1: return "\"" + at + "\",10.5,\"11.25\"," + low + ",10,\"1,234,567\"\n";
        case 2: return " " + at + " ,10.5, 11.25," + low + " ,10,1234567\n";
        case 3: return at + ":00,10.5,11.25," + low + ",10,1234567,,\n";
        case 4: return at + ",1234.5678,12345678,0.1,-0,12345678.5\n";
        case 5: return at + ",10.5,11.25," + low + ",1e1,00001234567\n";
        default: return at + ",10.5,11.25," + low + ",10,1234567\n";
    }
}

std::string goodRows(int from, int count) {
    std::string out;
    for (int i = from; i < from + count; ++i) out += goodRow(i);
    return out;
}

// Rows the shortcut must leave to the general path, good or bad.
const std::vector<std::string> kOddRows = {
    "2024-04-01 09:30,1,2,1,1,5,,\n", "2024-04-01 09:30,1,2,1,1\n", "2024-04-01 09:30,1,2,1,1,5,7\n",
    " 2024-04-01 09:30 , 1,2 ,1,1,5\n", "\"2024-04-01 09:30\",1,\"2\",1,1,5\n", "2024-04-01 09:30,1,2,\"1\"x,1,5\n",
    "2024-04-01 09:30,1,2,1,1,\"5\n", "2023-02-29 09:30,1,2,1,1,5\n", "2024-02-29T09:30:15,1,2,1,1,5\n",
    "2024/4/1,1,2,1,1,5\n", "20240401,1,2,1,1,5\n", "2024-04-01 9:30,1,2,1,1,5\n",
    "2024-04-01 09:30,1,2,3,1,5\n", "2024-04-01 09:30,1,nan,1,1,5\n", "2024-04-01 09:30,1,1e39,1,1,5\n",
    "2024-04-01 09:30,1,2,,1,5\n", "2024-04-01 09:30,-0,2,-0.0,0,5\n",
    "2024-04-01 09:30,1234.5678,12345678,0.00012345678,1e2,123456789\n",  // eight digits and more
    "2024-04-01 09:30,1234.567,1234567,0.0001234567,100,1234567.\n",      // seven
    "2024-04-01 09:30,.5,2,1,1,5\n", "2024-04-01 09:30,1,2,1,1,1,234\n",
    // Opens and volumes that are checked, kept or not.
    "2024-04-01 09:30,1e39,2,1,1,5\n", "2024-04-01 09:30,1,2,1,1,nan\n", "2024-04-01 09:30,-,2,1,1,5\n",
    "2024-04-01 09:30,1.2.3,2,1,1,5\n", "2024-04-01 09:30,1.,2,1,1,-12345678\n",
    "2024-04-01 09:30,99999999,2,1,1,99999999\n", "2024-04-01 09:30,-9999999,2,1,1,1e400\n",
    "2024-04-01 09:30,12345.678,2,1,1,x1\n",
    "2024-01-01 00:30,1,2,1,1,5\n",  // the first row's date again
    "2023-12-31 00:30,1,2,1,1,5\n",  // before every other: reordered
    ",,,,,\n", "\n", "x\n"};

TEST(BarFileShortcut, ReadsAsTheGeneralPath) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"Plain", kHeader + goodRows(0, 60)},
        {"NoFinalLineEnd", kHeader + "2024-01-31 09:30,1,2,1,1,5"},
        {"SemicolonsWithThousands", "date;high;low;volume\n2024-01-02;2;1;1,234,567\n2024-01-03;3;2;1234,5\n"
                                    "2024-01-04;3;2;1.234.567\n2024-01-05;3,5;2;1\n"},
        {"SemicolonsBadGrouping", "date;high;low;volume\n2024-01-02;2;1;1,234,567\n2024-01-03;3;2;12,34\n"},
        {"TrailingDelimiterOnHeader", "date,high,low,\n2024-01-30,2,0.5\n2024-01-31,3,1,\n"},
        {"DatesWithoutTimes", "date,high,low\n2024-01-30,2,1\n2024-01-31,2,1\n2024-02-29,2,1\n"},
        {"MinutesThenSeconds", "date,high,low\n2024-01-30 09:30,2,1\n2024-01-30 09:31:00,2,1\n"},
        {"DateAndTimeColumns", "date,time,high,low\n2024-01-30,09:30,2,1\n2024-01-30,2024-01-30 09:32,2,1\n"
                               "2024-01-30,,2,1\n2024-01-30 09:33,24:00,2,1\n"},
        {"Tabs", "date\thigh\tlow\n2024-01-30 09:30\t2\t1\n2024-01-30 09:31\t 2\t1\n2024-01-30 09:32\t2 \t1\n"},
        {"WhiteSpace", "date  high low\n2024-01-30 2 1\n2024-01-31   3  2\n"},
        {"SepLine", "sep=|\ndate|high|low\n2024-01-30 09:30|2|1\n2024-01-31|2,5|1\n"},
        {"NoDateColumn", "high,low\n2,1\n3,2\n-0,-0\n"},
        {"ManyColumns", "date,high,low" + std::string(40, ',') + "\n2024-01-30,2,1" + std::string(40, ',') +
                            "\n2024-01-31,2,1" + std::string(39, ',') + "x\n"},
        // The next line's delimiters within the sixteen bytes that end a short row.
        {"ShortRowThenDelimiters", "date,high,low\n2024-01-31,2\n1,2,3\n"},
        {"ShortRowOfIgnoredColumns", "high,low,note,extra\n2,1,x\n,yyyyyyyyyyyyyyy,z,z\n"},
        {"BlankLinesEverywhere", "\n,,\ndate,high,low\n\n2024-01-30,2,1\n,,\n \n2024-01-31,2,1\n\n"},
        // What only the end of a file read in blocks decides: not all UTF-8 (GBK then), or a NUL.
        {"GbkAfterManyRows", kHeader + goodRows(0, 30) + "2024-05-01 00:00,1,2,1,1,5 \xb3\xc9\n"},
        {"NulAfterManyRows", kHeader + goodRows(0, 30) + std::string(1, '\0')},
        {"QuoteErrorThenNotUtf8", kHeader + goodRows(0, 30) + "\"2024\n" + goodRows(30, 5) + "\xff\n"},
        {"TextAfterQuoteThenNul", kHeader + "2024-01-01 00:00,\"1\"x,2,1,1,5\n" + goodRows(0, 30) + std::string(1, '\0')},
        {"TextAfterQuoteThenGbk", kHeader + "2024-01-01 00:00,\"1\"x,2,1,1,5\n" + goodRows(0, 30) + "\xb3\xc9\n"},
    };
    for (std::size_t k = 0; k < kOddRows.size(); ++k) {
        for (const int at : {0, 1, 15, 30}) {  // first, second, in the middle, last
            files.emplace_back("Odd" + std::to_string(k) + "At" + std::to_string(at),
                               kHeader + goodRows(0, at) + kOddRows[k] + goodRows(at, 30 - at));
        }
    }
    std::mt19937 random(7);
    std::string mixed = kHeader, mixedOdd = kHeader;
    for (int i = 0; i < 3000; ++i) {
        mixed += goodRow(i, random());
        mixedOdd += random() % 64 == 0 ? kOddRows[random() % kOddRows.size()] : goodRow(i, random());
    }
    // Rows of 40 to 200 bytes: fields and line ends before, at and after
    // every place where a row's first sixty-four bytes end.
    std::string longRows = "date,open,high,low,close,volume,note\n";
    for (int i = 0; i < 160; ++i) {
        const std::string row = goodRow(i);
        longRows += row.substr(0, row.size() - 1) + "," + std::string(static_cast<std::size_t>(i), 'n') + "\n";
        longRows += row.substr(0, row.size() - 1) + "," + std::string(static_cast<std::size_t>(i % 40), 'm') +
                    (i % 7 == 0 ? ",\n" : "\n");
    }
    files.emplace_back("LongRows", longRows);
    files.emplace_back("Mixed", mixed);
    files.emplace_back("MixedWithOddRows", mixedOdd);

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("bar_file_shortcut_" + std::to_string(::getpid()) + ".csv");
    for (const auto& [name, lf] : files) {
        for (const char* end : {"\n", "\r\n", "\r"}) {
            std::string text;
            for (const char c : lf) text += c == '\n' ? std::string(end) : std::string(1, c);
            std::ofstream(file, std::ios::binary) << text;
            const Read general = readWith(text, false, 0, file);
            Read generalWithout = general;
            if (!generalWithout.columns.empty()) {
                generalWithout.columns.front().clear();
                generalWithout.columns.back().clear();
            }
            for (const std::size_t block : {std::size_t{0}, std::size_t{7}, std::size_t{64}, std::size_t{1} << 20}) {
                EXPECT_EQ(readWith(text, true, block, file), general) << name << ", line end " << int(end[0]) << int(end[1])
                                                                       << ", blocks of " << block;
                EXPECT_EQ(readWith(text, true, block, file, false), generalWithout)
                    << name << ", opens and volumes not kept, line end " << int(end[0]) << ", blocks of " << block;
                if (block != 0) {
                    EXPECT_EQ(readWith(text, false, block, file), general) << name << ", general, " << block;
                }
            }
        }
    }
    std::filesystem::remove(file);
}

// The date a date column and a time column give together, or the message,
// whichever path reads the row.
TEST(BarFileShortcut, DateAndTimeColumnsCombined) {
    const std::pair<std::string, std::string> cases[] = {
        {"2024-01-30,09:30", "2024-01-30 09:30"},
        {"2024-01-30 09:30,2024-01-30", "2024-01-30 09:30"},  // a bare day keeps the date's time
        {"2024-01-30,2024-01-30 09:31:15", "2024-01-30 09:31:15"},
        {"2024-01-30,2024-01-31 09:30", "bars.csv:2:2: the time '2024-01-31 09:30' is on another day than '2024-01-30'"},
        {"2024-01-30,2023-01-30", "bars.csv:2:2: the time '2023-01-30' is on another day than '2024-01-30'"},
        {"2024-01-30 09:30:00,09:30:01", "bars.csv:2:2: the time '09:30:01' differs from the date's '2024-01-30 09:30:00'"},
        {"2024-01-30,9:30", "bars.csv:2:2: not a time of day: '9:30'"},
    };
    for (const auto& [cells, expected] : cases) {
        for (const bool shortcut : {true, false}) {
            std::string got;
            try {
                got = parseBarText("date,time,high,low\n" + cells + ",2,1\n", "bars.csv", nullptr,
                                   {.plainRowShortcut = shortcut}).date(0);
            } catch (const BarFileError& e) {
                got = e.what();
            }
            EXPECT_EQ(got, expected) << cells << (shortcut ? "" : ", general path");
        }
    }
}

// Whichever path reads a number, it is the float from_chars gives for it.
TEST(BarFileShortcut, NumbersRoundAsFromChars) {
    std::mt19937 random(11);
    std::vector<std::string> numbers;
    std::string text = "high,low\n";
    for (int i = 0; i < 20000; ++i) {
        std::string n = random() % 4 == 0 ? "-" : "";
        const std::size_t digits = 1 + random() % 10, point = random() % (digits + 1);  // == digits: none
        for (std::size_t d = 0; d < digits; ++d) {
            if (d == point && d > 0) n += '.';
            n += static_cast<char>('0' + (random() % 3 == 0 ? 0 : random() % 10));
        }
        numbers.push_back(n);
        text += "1e30," + n + "\n";
    }
    for (const bool shortcut : {true, false}) {
        const BarSeries bars = parseBarText(text, "numbers.csv", nullptr, {.allowNoDates = true, .plainRowShortcut = shortcut});
        ASSERT_EQ(bars.size(), numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            float expected = 0;
            std::from_chars(numbers[i].data(), numbers[i].data() + numbers[i].size(), expected);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(bars.low[i]), std::bit_cast<std::uint32_t>(expected)) << numbers[i];
        }
    }
}

// The code point a well-formed sequence of `length` bytes at `s` stands for,
// or -1: decoded, then held to the shortest form, outside the surrogates and
// at most U+10FFFF.
long codePoint(const unsigned char* s, std::size_t length) {
    constexpr long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    long cp = length == 1 ? s[0] : s[0] & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    if (cp < kLeast[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return -1;
    return cp;
}

// ASCII is checked whole words at a time: wherever a NUL, a sequence or a
// broken one falls, and however the text is cut, the check says what
// decoding it a sequence at a time says.
TEST(Utf8Check, AsDecodedSequenceBySequence) {
    std::mt19937 random(5);
    const std::vector<std::string> pieces = {
        std::string(1, '\0'), "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x93\x88", "\xe6\x97", "\xff", "\x80",
        // Edges of the ranges: the first and last of each length, the last
        // before the surrogates and the first after them.
        "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf", "\xee\x80\x80", "\xef\xbf\xbf",
        "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf",
        // Overlong forms, surrogates and beyond U+10FFFF: all refused.
        "\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xed\xbf\xbf",
        "\xf0\x80\x80\xaf", "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80",
        // GBK pairs that look like two-byte sequences, one well formed.
        "\xc0\xb4", "\xd4\xb4"};
    for (int round = 0; round < 6000; ++round) {
        std::string text;
        while (text.size() < static_cast<std::size_t>(round % 200)) {
            text += random() % 100 < 6 ? pieces[random() % pieces.size()] : std::string(1, 'a' + random() % 26);
        }
        bool valid = true;
        std::size_t firstNul = std::string_view::npos;
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (std::size_t i = 0; i < text.size() && valid;) {
            const unsigned char c = bytes[i];
            const std::size_t length = c < 0x80 ? 1 : c >= 0xC0 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3
                                     : c >= 0xF0 && c < 0xF8 ? 4 : 0;
            valid = length > 0 && i + length <= text.size() && codePoint(bytes + i, length) >= 0;
            if (c == 0 && firstNul == std::string_view::npos) firstNul = i;
            i += std::max<std::size_t>(length, 1);
        }
        Utf8Check check;
        for (std::size_t at = 0, piece = 0; at < text.size(); at += piece) {
            piece = std::min<std::size_t>(text.size() - at, 1 + random() % 70);
            check.feed(std::string_view(text).substr(at, piece));
        }
        EXPECT_EQ(check.valid(), valid) << round;
        EXPECT_EQ(check.firstNul(), firstNul) << round;
    }
}

}  // namespace
}  // namespace vlmstruct
