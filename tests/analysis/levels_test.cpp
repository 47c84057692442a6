#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "barfile/bar_file.h"
#include "analysis/levels.h"
#include "levels/level_replay.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "analysis/replay_files.h"

namespace vlmstruct {

namespace {

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
}

// Minute bars over `days` weekdays from Monday 2024-06-03 with a lunch
// break, as a file would hold them; `step` makes another walk.
std::string minuteFile(std::size_t days = 2, int step = 7919) {
    std::string text = "datetime,open,high,low,close,volume\n";
    float price = 10.0f;
    int k = 0;
    const char* const weekdays[] = {"2024-06-03", "2024-06-04", "2024-06-05", "2024-06-06", "2024-06-07",
                                    "2024-06-10"};
    for (const char* day : std::span(weekdays).first(days)) {
        for (int minute = 9 * 60 + 31; minute <= 15 * 60; ++minute) {
            if (minute > 11 * 60 + 30 && minute <= 13 * 60) continue;
            price += ((k * step) % 13 - 6) * 0.01f;
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
            EXPECT_TRUE(sameBits(again.outputs[f].floats(), level.analysis.outputs[f].floats())) << k << " function " << f + 1;
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

BarSeries firstBars(const BarSeries& all, std::size_t n) {
    BarSeries cut = all;
    const auto keep = [n](auto& v) { v.resize(std::min(v.size(), n)); };
    keep(cut.dates), keep(cut.open), keep(cut.high), keep(cut.low), keep(cut.close), keep(cut.volume);
    return cut;
}

// The as-of row of every level at bar t says what `analyze --levels` says of
// the file cut after t at its last bar: the stroke, segment and segment
// without pullback in progress, the last listed pivot, the pivot under way
// and the latest trading point; at the last bar, of the whole file.
TEST(Levels, ReplayRowsAreTheAnalysisOfTheFileCutThere) {
    const BarSeries base = parseBarText(minuteFile(), "minutes.csv");
    const std::vector<vlm::levels::Period> periods = parseLevels("5min,30min,day");
    std::vector<vlm::levels::Seconds> time;
    for (const std::string& d : base.dates) time.push_back(barTime(d));
    vlm::levels::LevelReplay replay(periods);
    for (std::size_t n = 1; n <= base.size(); ++n) {
        replay.push({std::span(time).first(n), std::span(base.open).first(n), std::span(base.high).first(n),
                     std::span(base.low).first(n), std::span(base.close).first(n), std::span(base.volume).first(n)});
        if (n % 23 != 0 && n != base.size()) continue;
        const Levels all = analyseLevels(firstBars(base, n), periods, {}, {}, true);
        for (std::size_t k = 0; k < all.levels.size(); ++k) {
            const Analysis& a = all.levels[k].analysis;
            const vlm::levels::LevelAsOf& row = replay.rows()[k];
            const std::string where = "level " + std::to_string(k) + " after " + std::to_string(n) + " bars";
            ASSERT_TRUE(row.present) << where;
            ASSERT_EQ(row.structures.bar + 1, static_cast<int>(all.levels[k].bars.size())) << where;
            const auto expectMark = [&](const vlm::MarkState& got, const std::vector<Mark>& marks, const char* what) {
                ASSERT_EQ(got.bar >= 0, !marks.empty()) << where << " " << what;
                if (marks.empty()) return;
                EXPECT_EQ(got.bar, marks.back().bar) << where << " " << what;
                EXPECT_EQ(got.direction, static_cast<float>(marks.back().direction)) << where << " " << what;
                EXPECT_EQ(got.price, marks.back().price) << where << " " << what;
            };
            expectMark(row.structures.inProgress[0], a.strokes, "stroke");
            expectMark(row.structures.inProgress[1], a.segments, "segment");
            expectMark(row.structures.inProgress[2], marksOf(a.outputs[3].floats(), all.levels[k].bars.high, all.levels[k].bars.low), "no pullback");
            ASSERT_EQ(row.structures.lastPivot.present, !a.pivots.empty()) << where;
            if (!a.pivots.empty()) {
                EXPECT_EQ(row.structures.lastPivot.pivot, a.pivots.back()) << where;
                EXPECT_EQ(row.structures.lastPivot.runCount, a.runCounts.back()) << where;
            }
            ASSERT_EQ(row.structures.pivotUnderWay.present, a.openPivot.has_value()) << where;
            if (a.openPivot) {
                EXPECT_EQ(row.structures.pivotUnderWay.pivot, *a.openPivot) << where;
            }
            ASSERT_EQ(row.point.present, !a.points.empty()) << where;
            if (!a.points.empty()) {
                EXPECT_EQ(row.point.point, a.points.back()) << where;
            }
        }
    }
}

// The replay across levels at bar t reads bars 0..t only: with every bar
// after t replaced by a bar of another walk, the rows of the whole file up to
// t are the same text. Cut in a morning, at the lunch break, at a day's close
// (the week unfinished), on a Friday afternoon and on the Monday after.
TEST(Levels, ReplayRowsNeverLookAhead) {
    const BarSeries bars = parseBarText(minuteFile(6), "minutes.csv");
    const BarSeries other = parseBarText(minuteFile(6, 104729), "other.csv");
    const std::vector<vlm::levels::Period> periods = parseLevels("5min,30min,day,week");
    const auto lines = [](const std::string& csv) {
        std::vector<std::string> out;
        for (std::size_t at = 0, next; at < csv.size(); at = next + 1) {
            next = csv.find('\n', at);
            out.push_back(csv.substr(at, next - at));
        }
        return out;
    };
    const std::vector<std::string> full = lines(levelsAsOfCsv(bars, periods, {}));
    ASSERT_EQ(full.size(), bars.size() + 1);  // the header, then a row per bar
    for (const std::size_t t : {std::size_t{0}, std::size_t{17}, std::size_t{119}, std::size_t{239},
                                std::size_t{4 * 240 + 200}, std::size_t{5 * 240 + 5}}) {
        BarSeries mixed = bars;
        const auto replace = [t](auto& into, const auto& from) {
            std::copy(from.begin() + static_cast<std::ptrdiff_t>(t + 1), from.end(),
                      into.begin() + static_cast<std::ptrdiff_t>(t + 1));
        };
        replace(mixed.open, other.open), replace(mixed.high, other.high), replace(mixed.low, other.low);
        replace(mixed.close, other.close), replace(mixed.volume, other.volume);
        const std::vector<std::string> altered = lines(levelsAsOfCsv(mixed, periods, {}));
        ASSERT_EQ(altered.size(), full.size());
        for (std::size_t i = 0; i <= t + 1; ++i) ASSERT_EQ(altered[i], full[i]) << "row " << i << ", bars after " << t;
        ASSERT_NE(altered.back(), full.back()) << "the other bars should show, bars after " << t;
    }
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
