#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "levels/level_replay.h"
#include "levels/resample.h"
#include "points/point_replay.h"
#include "points/trading_points.h"

namespace vlm::levels {

namespace {

// Bars of a walk at the given times, with open, close and volume.
struct Minutes {
    std::vector<Seconds> time;
    std::vector<float> open, high, low, close;
    std::vector<double> volume;

    Minutes(std::vector<Seconds> times, std::uint32_t seed) {
        std::mt19937 rng(seed);
        std::normal_distribution<double> step(0.0, 0.04);
        double price = 20.0;
        for (const Seconds t : times) {
            const double next = price + step(rng);
            time.push_back(t);
            open.push_back(static_cast<float>(price));
            close.push_back(static_cast<float>(next));
            high.push_back(static_cast<float>(std::max(price, next) + std::abs(step(rng)) / 2));
            low.push_back(static_cast<float>(std::min(price, next) - std::abs(step(rng)) / 2));
            volume.push_back(static_cast<float>(100 + rng() % 50));
            price = next;
        }
    }
    [[nodiscard]] BaseBars prefix(std::size_t n) const {
        return {std::span(time).first(n),  std::span(open).first(n),  std::span(high).first(n),
                std::span(low).first(n), std::span(close).first(n), std::span(volume).first(n)};
    }
};

const std::int64_t kWednesday = DaysFromCivil(2024, 1, 3);

void minutes(std::vector<Seconds>& times, std::int64_t day, int from, int to, int every = 1) {
    for (int m = from; m <= to; m += every) times.push_back(day * kDay + m * kMinute);
}

// One-minute bars, 09:31-11:30 and 13:01-15:00 on `days` weekdays from `first`.
std::vector<Seconds> tradingDays(std::int64_t first, int days) {
    std::vector<Seconds> times;
    for (std::int64_t day = first; days > 0; ++day) {
        if ((day + 3) % 7 >= 5) continue;  // Saturday, Sunday
        --days;
        minutes(times, day, 9 * 60 + 31, 11 * 60 + 30);
        minutes(times, day, 13 * 60 + 1, 15 * 60);
    }
    return times;
}

std::vector<Period> periods(std::initializer_list<const char*> names) {
    std::vector<Period> out;
    for (const char* n : names) out.push_back(*ParsePeriod(n));
    return out;
}

}  // namespace

// A close that is not a finite number holds the averages in every driver,
// as in analyze's batch routine: at every bar the replay and the level
// replay (its base level and a level above it) show the latest of the points
// CalcTradingPoints finds on the bars so far, forces and all.
TEST(LevelReplay, NonFiniteClosesAreReadAsTheBatchReadsThem) {
    Minutes bars(tradingDays(kWednesday, 3), 21);
    for (std::size_t i = 0; i < bars.close.size(); ++i) {
        if (i % 5 == 2) bars.close[i] = std::numeric_limits<float>::quiet_NaN();
        if (i % 17 == 3) bars.close[i] = std::numeric_limits<float>::infinity();
        if (i % 23 == 4) bars.close[i] = -std::numeric_limits<float>::infinity();
    }
    TradingPointOptions options;
    options.class1MinRun = 1;
    options.divergenceRatio = 1.5;
    const Period fiveMinutes = *ParsePeriod("5min");
    LevelReplay levels(std::span(&fiveMinutes, 1), {}, options);
    PointReplay replay(options);
    const auto latest = [](const std::vector<TradingPoint>& points) {
        return points.empty() ? PointAsOf{} : PointAsOf{true, points.back(), false};
    };
    std::size_t withForces = 0;
    std::size_t finals = 0;
    for (std::size_t n = 1; n <= bars.time.size(); ++n) {
        const BaseBars prefix = bars.prefix(n);
        replay.push(prefix.high.back(), prefix.low.back(), prefix.close.back());
        levels.push(prefix);
        const std::vector<TradingPoint> base = CalcTradingPoints(prefix.high, prefix.low, prefix.close, options);
        const LevelBars level = Resample(prefix, fiveMinutes);
        const std::vector<TradingPoint> above = CalcTradingPoints(level.high, level.low, level.close, options);
        const PointAsOf want[] = {latest(base), latest(base), latest(above)};
        const PointAsOf got[] = {replay.pointAsOf(), levels.rows()[0].point, levels.rows()[1].point};
        for (std::size_t d = 0; d < std::size(want); ++d) {
            ASSERT_EQ(got[d].present, want[d].present) << "driver " << d << ", bar " << n - 1;
            ASSERT_EQ(got[d].point, want[d].point) << "driver " << d << ", bar " << n - 1;
        }
        // The base level calls a point final exactly when the one-level replay does.
        ASSERT_EQ(got[1].final, got[0].final) << "bar " << n - 1;
        finals += got[0].final;
        withForces += want[0].present && want[0].point.has(1);
    }
    EXPECT_GT(withForces, 50u) << "the series should make first-class points, whose forces read the closes";
    EXPECT_GT(finals, 50u) << "the latest point should often be final";
}

// At every bar each level's row is the last row of the single-level replay
// of that level's bars resampled from the bars so far (the base level: of
// the base bars), except that while the level's last bar is unfinished a
// final column counts only what that bar cannot move; and what a row calls
// final is still there at the end.
TEST(LevelReplay, EachLevelIsTheReplayOfItsResampledPrefix) {
    struct Case {
        const char* name;
        Minutes bars;
        std::vector<Period> levels;
        bool rebuilds;
    };
    // Five-minute bars first, with a 20-minute hole that the 20-minute
    // session gap they set keeps inside the first 30-minute bar; the minute
    // bars from 10:31 lower the gap to 16 minutes, and the hole splits it.
    std::vector<Seconds> reformed;
    minutes(reformed, kWednesday, 9 * 60 + 35, 9 * 60 + 40, 5);
    minutes(reformed, kWednesday, 10 * 60, 10 * 60 + 30, 5);
    minutes(reformed, kWednesday, 10 * 60 + 31, 11 * 60 + 30);
    for (const Seconds t : tradingDays(kWednesday + 1, 1)) reformed.push_back(t);
    const Case cases[] = {
        {"Week", Minutes(tradingDays(kWednesday, 6), 11), periods({"5min", "30min", "day", "week"}), false},
        {"ReformedSessions", Minutes(reformed, 7), periods({"30min", "60min"}), true},
    };
    for (const Case& c : cases) {
        std::size_t finishedChecked = 0;
        LevelReplay replay(c.levels, {}, {});
        std::vector<std::vector<LevelAsOf>> shown;
        for (std::size_t n = 1; n <= c.bars.time.size(); ++n) {
            replay.push(c.bars.prefix(n));
            shown.emplace_back(replay.rows().begin(), replay.rows().end());
            if (n % 7 != 0 && n != c.bars.time.size()) continue;
            for (std::size_t k = 0; k < shown.back().size(); ++k) {
                const std::string where = std::string(c.name) + " level " + std::to_string(k) + " bar " + std::to_string(n - 1);
                const BaseBars prefix = c.bars.prefix(n);
                const LevelBars level = k == 0 ? LevelBars{{}, {}, {prefix.high.begin(), prefix.high.end()},
                                                           {prefix.low.begin(), prefix.low.end()},
                                                           {prefix.close.begin(), prefix.close.end()}, {}, {}, {}, false}
                                               : Resample(prefix, c.levels[k - 1]);
                const PointReplayLog alone = ReplayWithPoints(level.high, level.low, level.close);
                const AsOfRow& want = alone.rows.back();
                const LevelAsOf& got = shown.back()[k];
                ASSERT_TRUE(got.present) << where;
                ASSERT_EQ(got.structures.bar, want.bar) << where;
                ASSERT_EQ(got.structures.inProgress, want.inProgress) << where;
                ASSERT_EQ(got.structures.lastPivot, want.lastPivot) << where;
                ASSERT_EQ(got.structures.pivotUnderWay, want.pivotUnderWay) << where;
                ASSERT_EQ(got.structures.close, want.close) << where;
                ASSERT_EQ(got.point.present, alone.points.back().present) << where;
                ASSERT_EQ(got.point.point, alone.points.back().point) << where;
                // A finished level bar (every base bar: whole when it
                // arrives) counts towards the final columns as the bars
                // before it do.
                if (!level.lastUnfinished) {
                    ASSERT_EQ(got.structures.lastFinal, want.lastFinal) << where;
                    ASSERT_EQ(got.point.final, alone.points.back().final) << where;
                    ++finishedChecked;
                }
            }
        }
        // Some level bar above the base finishes at a checked bar (n % 7 == 0
        // meets the end of a five-minute bin every 35 minutes).
        EXPECT_GT(finishedChecked, shown.size() / 7 + 1) << c.name;
        EXPECT_EQ(replay.rebuilds() > 0, c.rebuilds) << c.name;
        if (c.rebuilds) continue;
        // Final at some bar: a mark of the level at the last bar, where it was.
        std::size_t checked = 0;
        for (std::size_t k = 1; k < shown.back().size(); ++k) {
            const LevelBars level = Resample(c.bars.prefix(c.bars.time.size()), c.levels[k - 1]);
            std::vector<std::vector<MarkState>> marks(kAsOfSeries.size());
            StreamingEngine engine;
            for (std::size_t j = 0; j < level.size(); ++j) engine.push(level.high[j], level.low[j]);
            for (std::size_t s = 0; s < kAsOfSeries.size(); ++s) {
                for (const SignalMark& m : engine.marks(kAsOfSeries[s])) {
                    const TurningPoint p = engine.pointOf(m);
                    marks[s].push_back({p.bar, m.value, p.price});
                }
            }
            const std::vector<TradingPoint> points = CalcTradingPoints(level.high, level.low, level.close);
            for (const auto& row : shown) {
                for (std::size_t s = 0; s < kAsOfSeries.size(); ++s) {
                    const MarkState& f = row[k].structures.lastFinal[s];
                    if (f.bar < 0) continue;
                    ASSERT_NE(std::find(marks[s].begin(), marks[s].end(), f), marks[s].end())
                        << c.name << " level " << k << " series " << s << " final mark at " << f.bar << " moved";
                    ++checked;
                }
                if (row[k].point.final) {
                    ASSERT_NE(std::find(points.begin(), points.end(), row[k].point.point), points.end())
                        << c.name << " level " << k << " final point at " << row[k].point.point.bar << " changed";
                    ++checked;
                }
            }
        }
        EXPECT_GT(checked, 1000u) << c.name;
    }
}

}  // namespace vlm::levels
