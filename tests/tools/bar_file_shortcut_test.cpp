// Plain rows take a shortcut past the general splitter; every file must read
// exactly as it does with the shortcut off: the same bits in every column,
// the same dates and report, or the same message.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bar_file.h"

namespace vlmstruct {
namespace {

struct Read {
    std::vector<std::string> dates;
    std::vector<std::vector<std::uint32_t>> columns;  // open, high, low, close, volume as bits
    bool reordered = false, noDates = false;
    std::string encoding, error;
    friend bool operator==(const Read&, const Read&) = default;
};

std::ostream& operator<<(std::ostream& os, const Read& r) {
    return os << (r.error.empty() ? std::to_string(r.dates.size()) + " dates" : r.error);
}

std::vector<std::uint32_t> bitsOf(const std::vector<float>& values) {
    std::vector<std::uint32_t> bits;
    for (const float v : values) bits.push_back(std::bit_cast<std::uint32_t>(v));
    return bits;
}

// In memory, or from a file in blocks of `block` bytes when it is not 0.
Read readWith(const std::string& text, bool shortcut, std::size_t block, const std::filesystem::path& file) {
    Read r;
    ReadOptions options{.allowNoDates = true, .plainRowShortcut = shortcut};
    try {
        ReadReport report;
        BarSeries bars;
        if (block == 0) {
            bars = parseBarText(text, file.string(), &report, options);
        } else {
            options.blockBytes = block;
            bars = readBarFile(file, &report, options);
        }
        for (std::size_t i = 0; i < bars.size(); ++i) r.dates.push_back(bars.date(i));
        for (const auto* column : {&bars.open, &bars.high, &bars.low, &bars.close, &bars.volume}) {
            r.columns.push_back(bitsOf(*column));
        }
        r.reordered = report.reordered;
        r.noDates = report.noDates;
        r.encoding = report.encoding;
    } catch (const BarFileError& e) {
        r.error = e.what();
    }
    return r;
}

std::string withLineEnds(std::string text, const std::string& end) {
    std::string out;
    for (const char c : text) out += c == '\n' ? end : std::string(1, c);
    return out;
}

const std::string kHeader = "date,open,high,low,close,volume\n";

std::string twoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// A good row for hour i of 2024 written in one of several ways, most of
// which the shortcut leaves to the general path.
std::string goodRow(int i, unsigned style) {
    const int day = 1 + i / 24 % 28, month = 1 + i / (24 * 28), hour = i % 24;
    const std::string date = "2024-" + twoDigits(month) + "-" + twoDigits(day);
    const std::string low = std::to_string(9 + i % 2) + ".75";
    switch (style % 8) {
        case 1: return "\"" + date + " " + twoDigits(hour) + ":30\",10.5,\"11.25\"," + low + ",10,\"1,234,567\"\n";
        case 2: return " " + date + " " + twoDigits(hour) + ":30 ,10.5, 11.25," + low + " ,10,1234567\n";
        case 3: return date + "T" + twoDigits(hour) + ":30:00,10.5,11.25," + low + ",10,1234567,,\n";
        case 4: return date + " " + twoDigits(hour) + ":30,1234.5678,12345678,0.1,-0,12345678.5\n";
        case 5: return date + " " + twoDigits(hour) + ":30,10.5,11.25," + low + ",1e1,00001234567\n";
        default: return date + " " + twoDigits(hour) + ":30,10.5,11.25," + low + ",10,1234567\n";
    }
}

std::string goodRows(int from, int count) {
    std::string out;
    for (int i = from; i < from + count; ++i) out += goodRow(i, 0);
    return out;
}

// Rows that the shortcut must leave to the general path, good or bad;
// each is dated after every row goodRows(0, 30) gives.
const std::vector<std::string> kOddRows = {
    "2024-04-01 09:30,1,2,1,1,5,,\n",                    // trailing delimiters
    "2024-04-01 09:30,1,2,1,1\n",                        // a field short
    "2024-04-01 09:30,1,2,1,1,5,7\n",                    // a field too many
    " 2024-04-01 09:30 , 1,2 ,1,1,5\n",                  // blanks around fields
    "\"2024-04-01 09:30\",1,\"2\",1,1,5\n",              // quoted fields
    "2024-04-01 09:30,1,2,\"1\"x,1,5\n",                 // text after a closing quote
    "2024-04-01 09:30,1,2,1,1,\"5\n",                    // a quote never closed
    "2023-02-29 09:30,1,2,1,1,5\n",                      // no such day
    "2024-02-29T09:30:15,1,2,1,1,5\n",                   // a leap day, with seconds
    "2024/4/1,1,2,1,1,5\n",                              // another date layout
    "20240401,1,2,1,1,5\n",                              // compact date
    "2024-04-01 9:30,1,2,1,1,5\n",                       // one-digit hour
    "2024-04-01 09:30,1,2,3,1,5\n",                      // low above high
    "2024-04-01 09:30,1,nan,1,1,5\n",                    // not finite
    "2024-04-01 09:30,1,1e39,1,1,5\n",                   // too large for a float
    "2024-04-01 09:30,1,2,,1,5\n",                       // empty price
    "2024-04-01 09:30,-0,2,-0.0,0,5\n",                  // negative zero
    "2024-04-01 09:30,1234.5678,12345678,0.00012345678,1e2,123456789\n",  // eight and more digits
    "2024-04-01 09:30,1234.567,1234567,0.0001234567,100,1234567.\n",      // seven digits; '1234567.'
    "2024-04-01 09:30,.5,2,1,1,5\n",                     // no whole part
    "2024-04-01 09:30,1,2,1,1,1,234\n",                  // a thousands separator splits the volume
    "2024-03-01 00:30,1,2,1,1,5\n",                      // the date of the first row again
    "2024-02-01 00:30,1,2,1,1,5\n",                      // earlier than all: reordered
    ",,,,,\n",                                           // only delimiters
    "\n",                                                // blank line
    "x\n",                                               // one field
};

TEST(BarFileShortcut, ReadsAsTheGeneralPath) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"Plain", kHeader + goodRows(0, 60)},
        {"NoFinalLineEnd", kHeader + "2024-01-31 09:30,1,2,1,1,5"},
        {"FinalCarriageReturn", kHeader + "2024-01-31 09:30,1,2,1,1,5\r"},
        {"SemicolonsWithThousands", "date;high;low;volume\n2024-01-02;2;1;1,234,567\n2024-01-03;3;2;1234,5\n"
                                    "2024-01-04;3;2;1.234.567\n2024-01-05;3,5;2;1\n"},
        {"SemicolonsBadGrouping", "date;high;low;volume\n2024-01-02;2;1;1,234,567\n2024-01-03;3;2;12,34\n"},
        {"TrailingDelimiterOnHeader", "date,high,low,\n2024-01-30,2,0.5\n2024-01-31,3,1,\n"},
        {"DatesWithoutTimes", "date,high,low\n2024-01-30,2,1\n2024-01-31,2,1\n2024-02-29,2,1\n"},
        {"MinutesThenSeconds", "date,high,low\n2024-01-30 09:30,2,1\n2024-01-30 09:31:00,2,1\n"},
        {"DateAndTimeColumns", "date,time,high,low\n2024-01-30,09:30,2,1\n2024-01-30,09:31:30,2,1\n"
                               "2024-01-30,2024-01-30 09:32,2,1\n2024-01-30,,2,1\n"},
        {"TimeOnAnotherDay", "date,time,high,low\n2024-01-30,09:30,2,1\n2024-01-30,2024-01-31 09:31,2,1\n"},
        {"TimeDiffersFromDate", "date,time,high,low\n2024-01-30 09:30,09:30,2,1\n2024-01-30 09:31,09:32,2,1\n"},
        {"BadTimeOfDay", "date,time,high,low\n2024-01-30,09:30,2,1\n2024-01-30,24:00,2,1\n"},
        {"Tabs", "date\thigh\tlow\n2024-01-30 09:30\t2\t1\n2024-01-30 09:31\t 2\t1\n2024-01-30 09:32\t2 \t1\n"},
        {"WhiteSpace", "date  high low\n2024-01-30 2 1\n2024-01-31   3  2\n"},
        {"SepLine", "sep=|\ndate|high|low\n2024-01-30 09:30|2|1\n2024-01-31|2,5|1\n"},
        {"NoDateColumn", "high,low\n2,1\n3,2\n-0,-0\n"},
        {"ManyColumns", "date,high,low" + std::string(40, ',') + "\n2024-01-30,2,1" + std::string(40, ',') +
                            "\n2024-01-31,2,1" + std::string(39, ',') + "x\n"},
        // The next line's delimiters within reach of the short row's end.
        {"ShortRowThenDelimiters", "date,high,low\n2024-01-31,2\n1,2,3\n"},
        {"ShortRowsNoDates", "high,low\n1\n2,3\n4,5\n"},
        {"ShortRowOfIgnoredColumns", "high,low,note,extra\n2,1,x\n,yyyyyyyyyyyyyyy,z,z\n"},
        {"BlankLinesEverywhere", "\n,,\ndate,high,low\n\n2024-01-30,2,1\n,,\n \n2024-01-31,2,1\n\n"},
    };
    for (std::size_t k = 0; k < kOddRows.size(); ++k) {
        // The odd row first, second, in the middle and last.
        for (const int at : {0, 1, 15, 30}) {
            files.emplace_back("Odd" + std::to_string(k) + "At" + std::to_string(at),
                               kHeader + goodRows(0, at) + kOddRows[k] + goodRows(at, 30 - at));
        }
    }
    // What is only known at the end of a file read in blocks: it is not all
    // UTF-8 (GBK then), or holds a NUL.
    files.emplace_back("GbkAfterManyRows", kHeader + goodRows(0, 30) + "2024-05-01 00:00,1,2,1,1,5 \xb3\xc9\n");
    files.emplace_back("GbkNameAfterManyRows", "date,high,low,name\n" + std::string(200, '\n') +
                                                   "2024-05-01,2,1,\xb3\xc9\n");
    files.emplace_back("NulAfterManyRows", kHeader + goodRows(0, 30) + std::string(1, '\0') + "\n");
    files.emplace_back("QuoteErrorThenNotUtf8", kHeader + goodRows(0, 30) + "\"2024\n" + goodRows(30, 5) + "\xff\n");
    files.emplace_back("TextAfterQuoteThenNul", kHeader + "2024-01-01 00:00,\"1\"x,2,1,1,5\n" + goodRows(0, 30) +
                                                    std::string(1, '\0'));
    files.emplace_back("TextAfterQuoteThenNotUtf8", kHeader + "2024-01-01 00:00,\"1\"x,2,1,1,5\n" + goodRows(0, 30) +
                                                        "\xb3\xc9\n");
    files.emplace_back("BadRowThenNul", kHeader + "x,1,2,1,1,5\n" + goodRows(0, 30) + std::string(1, '\0'));
    // Good rows of every kind mixed; then with an odd row now and then.
    std::mt19937 random(7);
    std::string mixed = kHeader, mixedOdd = kHeader;
    for (int i = 0; i < 3000; ++i) {
        mixed += goodRow(i, random());
        mixedOdd += random() % 64 == 0 ? kOddRows[random() % kOddRows.size()] : goodRow(i, random());
    }
    files.emplace_back("Mixed", mixed);
    files.emplace_back("MixedWithOddRows", mixedOdd);

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("bar_file_shortcut_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".csv");
    for (const auto& [name, base] : files) {
        for (const char* end : {"\n", "\r\n", "\r"}) {
            const std::string text = withLineEnds(base, end);
            {
                std::ofstream out(file, std::ios::binary);
                out << text;
            }
            const Read general = readWith(text, false, 0, file);
            for (const std::size_t block : {std::size_t{0}, std::size_t{7}, std::size_t{64}, std::size_t{1} << 20}) {
                EXPECT_EQ(readWith(text, true, block, file), general)
                    << name << ", line ends " << (end[0] == '\r' ? end[1] ? "CR LF" : "CR" : "LF") << ", blocks of "
                    << block;
                if (block != 0) {
                    EXPECT_EQ(readWith(text, false, block, file), general) << name << ", blocks of " << block;
                }
            }
        }
    }
    std::filesystem::remove(file);
}

// A date column and a time column: the date and time a row stands for, or
// the message, whichever path reads it.
TEST(BarFileShortcut, DateAndTimeColumnsCombined) {
    const std::pair<std::string, std::string> cases[] = {
        {"2024-01-30,09:30", "2024-01-30 09:30"},
        {"2024-01-30 09:30,", "2024-01-30 09:30"},
        {"2024-01-30,2024-01-30 09:31:15", "2024-01-30 09:31:15"},
        // A whole day in the time column keeps the date column's time.
        {"2024-01-30 09:30,2024-01-30", "2024-01-30 09:30"},
        {"2024-01-30 09:30,09:30:00", "2024-01-30 09:30:00"},
        {"2024-01-30,2024-01-31 09:30", "bars.csv:2:2: the time '2024-01-31 09:30' is on another day than '2024-01-30'"},
        {"2024-01-30,2023-01-30", "bars.csv:2:2: the time '2023-01-30' is on another day than '2024-01-30'"},
        {"2024-01-30 09:30,09:31", "bars.csv:2:2: the time '09:31' differs from the date's '2024-01-30 09:30'"},
        {"2024-01-30 09:30:00,09:30:01", "bars.csv:2:2: the time '09:30:01' differs from the date's '2024-01-30 09:30:00'"},
        {"2024-01-30,9:30", "bars.csv:2:2: not a time of day: '9:30'"},
        {"2024-01-32,09:30", "bars.csv:2:1: not a valid date: '2024-01-32'"},
    };
    for (const auto& [cells, expected] : cases) {
        for (const bool shortcut : {true, false}) {
            std::string got;
            try {
                const BarSeries bars = parseBarText("date,time,high,low\n" + cells + ",2,1\n", "bars.csv", nullptr,
                                                    {.plainRowShortcut = shortcut});
                got = bars.date(0);
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
    for (int i = 0; i < 20000; ++i) {
        std::string n = random() % 4 == 0 ? "-" : "";
        const std::size_t digits = 1 + random() % 10;
        const std::size_t point = random() % (digits + 1);  // == digits: none
        for (std::size_t d = 0; d < digits; ++d) {
            if (d == point && d > 0) n += '.';
            n += static_cast<char>('0' + (random() % 3 == 0 ? 0 : random() % 10));
        }
        numbers.push_back(n);
    }
    std::string text = "high,low\n";
    for (const std::string& n : numbers) text += "1e30," + n + "\n";
    for (const bool shortcut : {true, false}) {
        const BarSeries bars = parseBarText(text, "numbers.csv", nullptr, {.allowNoDates = true, .plainRowShortcut = shortcut});
        ASSERT_EQ(bars.size(), numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            float expected = 0;
            const std::string& n = numbers[i];
            ASSERT_EQ(std::from_chars(n.data(), n.data() + n.size(), expected).ptr, n.data() + n.size()) << n;
            EXPECT_EQ(std::bit_cast<std::uint32_t>(bars.low[i]), std::bit_cast<std::uint32_t>(expected))
                << n << (shortcut ? "" : ", general path");
        }
    }
}

// UTF-8 checked a byte at a time, as the rules read.
struct PlainUtf8Check {
    bool valid = true;
    unsigned pending = 0;
    std::size_t fed = 0, firstNul = std::string_view::npos;
    void feed(std::string_view piece) {
        for (const char byte : piece) {
            const auto c = static_cast<unsigned char>(byte);
            if (!valid) break;
            if (pending > 0) {
                valid = (c >> 6) == 0x2;
                --pending;
            } else if (c == 0) {
                if (firstNul == std::string_view::npos) firstNul = fed;
            } else if (c >= 0x80) {
                pending = (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 0;
                valid = pending > 0;
            }
            ++fed;
        }
    }
};

// ASCII is checked whole words at a time: wherever a NUL, a sequence or a
// broken one falls, and however the text is cut into pieces, the check says
// what the byte-by-byte reading says.
TEST(Utf8Check, AsByteByByte) {
    std::mt19937 random(5);
    const std::string sequences[] = {"\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x93\x88", "\xe6\x97", "\xff", "\x80"};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = random() % 200;
        while (text.size() < length) {
            const unsigned pick = random() % 100;
            text += pick == 0 ? std::string(1, '\0') : pick < 4 ? sequences[random() % 6] : std::string(1, 'a' + random() % 26);
        }
        Utf8Check check;
        PlainUtf8Check plain;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t piece = std::min<std::size_t>(text.size() - at, 1 + random() % 70);
            check.feed(std::string_view(text).substr(at, piece));
            at += piece;
        }
        plain.feed(text);
        EXPECT_EQ(check.valid(), plain.valid && plain.pending == 0) << round;
        // Both stop at a broken sequence: a NUL after it is not looked for.
        EXPECT_EQ(check.firstNul(), plain.firstNul) << round;
    }
}

}  // namespace
}  // namespace vlmstruct
