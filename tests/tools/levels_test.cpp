#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bar_file.h"
#include "levels.h"
#include "output_files.h"

namespace vlmstruct {

namespace {

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
}

// Minute bars over two days with a lunch break, as a file would hold them.
std::string minuteFile() {
    std::string text = "datetime,open,high,low,close,volume\n";
    float price = 10.0f;
    int k = 0;
    for (const char* day : {"2024-06-03", "2024-06-04"}) {
        for (int minute = 9 * 60 + 31; minute <= 15 * 60; ++minute) {
            if (minute > 11 * 60 + 30 && minute <= 13 * 60) continue;
            price += ((k * 7919) % 13 - 6) * 0.01f;
            char row[96];
            std::snprintf(row, sizeof row, "%s %02d:%02d,%.2f,%.2f,%.2f,%.2f,%d\n", day, minute / 60,
                          minute % 60, price, price + 0.05f + (k % 5) * 0.01f, price - 0.04f - (k % 3) * 0.01f,
                          price + 0.01f, 100 + k % 17);
            text += row;
            ++k;
        }
    }
    return text;
}

}  // namespace

// Each level is what `analyze` gives on that level's bars written to a file
// and read back: the resampled file is an ordinary bar file.
TEST(Levels, EachLevelIsTheAnalysisOfItsResampledFile) {
    const BarSeries base = parseBarText(minuteFile(), "minutes.csv");
    const Levels all = analyseLevels(base, parseLevels("day,5min,30min"), {}, {}, true);
    ASSERT_EQ(all.levels.size(), 4u);
    EXPECT_EQ(vlm::levels::PeriodName(all.levels[1].period), "5min");
    EXPECT_EQ(vlm::levels::PeriodName(all.levels[3].period), "day");
    for (std::size_t k = 1; k < all.levels.size(); ++k) {
        const Level& level = all.levels[k];
        const BarSeries reread = parseBarText(levelBarsCsv(level.bars), "level.csv");
        ASSERT_EQ(reread.dates, level.bars.dates);
        const Analysis again = analyse(reread);
        for (std::size_t f = 0; f < again.outputs.size(); ++f) {
            EXPECT_TRUE(sameBits(again.outputs[f], level.analysis.outputs[f])) << k << " function " << f + 1;
        }
        EXPECT_EQ(structuresJson("x", reread, again, true), structuresJson("x", level.bars, level.analysis, true));
    }
    // The 30-minute bars of a 09:31 open close at 10:00, 10:30, ... and 13:30 after lunch.
    EXPECT_EQ(all.levels[2].bars.dates[0], "2024-06-03 10:00");
    EXPECT_EQ(all.levels[2].bars.dates[4], "2024-06-03 13:30");
    EXPECT_EQ(all.levels[3].bars.dates, (std::vector<std::string>{"2024-06-03", "2024-06-04"}));
}

TEST(Levels, PerBarColumnsReadTheLevelBarThatHoldsTheBar) {
    const BarSeries base = parseBarText(minuteFile(), "minutes.csv");
    const Levels all = analyseLevels(base, parseLevels("30min"), {}, {}, false);
    const std::string csv = levelsCsv(base, all);
    const std::string header = csv.substr(0, csv.find('\n'));
    EXPECT_EQ(header.rfind("date,base_bar,base_turning_point,", 0), 0u) << header;
    EXPECT_NE(header.find(",30min_bar,30min_turning_point,"), std::string::npos);
    // Base bar 29 (10:00) is the last of 30-minute bar 0, bar 30 the first of bar 1.
    std::size_t at = 0;
    std::vector<std::string> lines;
    while ((at = csv.find('\n', at)) != std::string::npos && lines.size() < 40) {
        const std::size_t next = csv.find('\n', at + 1);
        lines.push_back(csv.substr(at + 1, next - at - 1));
        at = next;
    }
    const auto levelBar = [&](std::size_t row) {
        const std::string& line = lines[row];
        std::size_t comma = 0;
        for (int c = 0; c < 12; ++c) comma = line.find(',', comma) + 1;  // date, base_bar, nine outputs, point
        return line.substr(comma, line.find(',', comma) - comma);
    };
    EXPECT_EQ(levelBar(29), "0");
    EXPECT_EQ(levelBar(30), "1");
}

TEST(Levels, RefuseWhatTheyCannotLevel) {
    EXPECT_THROW(parseLevels("30min,45min"), UsageError);
    EXPECT_THROW(parseLevels("day,day"), UsageError);
    EXPECT_THROW(parseLevels(""), UsageError);
    const BarSeries noDates = parseBarText("high,low\n2,1\n3,2\n", "x.csv", nullptr, {.allowNoDates = true});
    EXPECT_THROW(analyseLevels(noDates, parseLevels("day"), {}, {}, false), std::invalid_argument);
    const BarSeries daily = parseBarText("date,high,low\n2024-01-02,2,1\n2024-01-03,3,2\n", "d.csv");
    EXPECT_THROW(analyseLevels(daily, parseLevels("30min"), {}, {}, false), std::invalid_argument);
    EXPECT_EQ(barTime("1970-01-02 00:01:05"), 86400 + 65);
}

}  // namespace vlmstruct
