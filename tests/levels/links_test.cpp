#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "levels/level_replay.h"
#include "levels/links.h"
#include "levels/resample.h"
#include "points/point_replay.h"
#include "points/point_stream.h"
#include "pivot/pivot_list.h"
#include "points/trading_points.h"
#include "segment/segment_signal.h"
#include "stroke/bi_signal.h"

namespace vlm::levels {

namespace {

// A level's bars and the structures the core finds on them.
struct Level {
    std::vector<float> high, low;
    std::vector<std::int32_t> firstBase, lastBase;
    std::vector<LevelEnd> strokes, segments;
    std::vector<LevelPivot> pivots;
    std::vector<LevelPoint> points;

    [[nodiscard]] LevelStructures view() const {
        return {strokes, segments, pivots, points, firstBase, lastBase};
    }
};

std::vector<LevelEnd> endsOf(const std::vector<float>& signal) {
    std::vector<LevelEnd> ends;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (signal[i] == 1.0f || signal[i] == -1.0f) {
            ends.push_back({static_cast<std::int32_t>(i), signal[i] == 1.0f ? 1 : -1});
        }
    }
    return ends;
}

Level analyse(std::vector<float> high, std::vector<float> low, std::vector<std::int32_t> first,
              std::vector<std::int32_t> last) {
    Level level{std::move(high), std::move(low), std::move(first), std::move(last), {}, {}, {}, {}};
    const std::vector<float> bi = CalcBiSignal(level.high, level.low);
    level.strokes = endsOf(bi);
    level.segments = endsOf(CalcSegmentSignal(bi, level.high, level.low));
    for (const Pivot& p : CalcPivotList(bi, level.high, level.low)) level.pivots.push_back({p.start, p.end});
    for (const TradingPoint& p : CalcTradingPoints(level.high, level.low, {}, {})) {
        level.points.push_back({p.bar, static_cast<int>(p.side)});
    }
    return level;
}

// One-minute bars of a quantised walk over whole trading days.
struct Base {
    std::vector<Seconds> time;
    std::vector<float> high, low;
};

Base walk(int days, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(-0.2, 0.2), range(0.0, 0.15);
    Base b;
    double price = 50.0;
    for (int d = 0; d < days; ++d) {
        const Seconds day = (DaysFromCivil(2024, 1, 1) + d) * kDay;
        for (Seconds t = day + 9 * 3600 + 31 * kMinute; t <= day + 15 * 3600; t += kMinute) {
            if (t > day + 11 * 3600 + 30 * kMinute && t <= day + 13 * 3600) continue;
            price += step(rng);
            const float hi = static_cast<float>(std::round((price + range(rng)) * 100) / 100);
            const float lo = static_cast<float>(std::round((price - range(rng)) * 100) / 100);
            b.time.push_back(t);
            b.high.push_back(hi);
            b.low.push_back(std::min(lo, hi));
        }
    }
    return b;
}

Level levelOf(const Base& base, const char* period) {
    const LevelBars bars = Resample({base.time, {}, base.high, base.low, {}, {}}, *ParsePeriod(period));
    return analyse(bars.high, bars.low, bars.firstBase, bars.lastBase);
}

Level baseLevel(const Base& base) {
    std::vector<std::int32_t> index(base.time.size());
    for (std::size_t i = 0; i < index.size(); ++i) index[i] = static_cast<std::int32_t>(i);
    return analyse(base.high, base.low, index, index);
}

// The run names exactly the lower structures whose base bars lie wholly
// within the higher structure's: from its first base bar through its last.
template <typename T, typename Range>
void expectMaximalRun(const std::vector<T>& lowerList, const Range& ranges, const IndexRange& run,
                      const BaseRange& outer, const char* what) {
    for (std::int32_t k = 0; k < static_cast<std::int32_t>(lowerList.size()); ++k) {
        const bool inRun = k >= run.first && k < run.first + run.count;
        const BaseRange& inner = ranges[static_cast<std::size_t>(k)];
        EXPECT_EQ(inRun, outer.first <= inner.first && inner.last <= outer.last) << what << " " << k;
    }
}

}  // namespace

// On real structures of three levels: every higher stroke end is found at
// the base bar that made its extreme, a lower stroke end is named only where
// one stands at that bar in that direction, and each "inside" run holds
// exactly the lower structures within the higher one's base bars.
TEST(LinkLevels, HoldOnGeneratedMinuteBars) {
    const Base base = walk(20, 3);
    const Level minutes = baseLevel(base);
    const Level thirty = levelOf(base, "30min");
    const Level day = levelOf(base, "day");
    int matched = 0;
    int ends = 0;
    for (const auto& [higher, lower] : {std::pair{&thirty, &minutes}, std::pair{&day, &thirty}}) {
        const LevelLinks links =
            LinkLevels(higher->view(), lower->view(), higher->high, higher->low, base.high, base.low);
        ASSERT_EQ(links.strokeEnds.size(), higher->strokes.size());
        for (std::size_t k = 0; k < higher->strokes.size(); ++k) {
            const LevelEnd& end = higher->strokes[k];
            const EndMatch& m = links.strokeEnds[k];
            const auto bar = static_cast<std::size_t>(end.bar);
            ASSERT_GE(m.baseBar, higher->firstBase[bar]);
            ASSERT_LE(m.baseBar, higher->lastBase[bar]);
            const auto b = static_cast<std::size_t>(m.baseBar);
            EXPECT_EQ(end.direction == 1 ? base.high[b] : base.low[b],
                      end.direction == 1 ? higher->high[bar] : higher->low[bar]);
            bool standsThere = false;
            for (std::size_t j = 0; j < lower->strokes.size(); ++j) {
                const auto lb = static_cast<std::size_t>(lower->strokes[j].bar);
                if (lower->firstBase[lb] <= m.baseBar && m.baseBar <= lower->lastBase[lb] &&
                    lower->strokes[j].direction == end.direction) {
                    standsThere = true;
                    EXPECT_EQ(m.lower, static_cast<std::int32_t>(j));
                }
            }
            if (!standsThere) {
                EXPECT_FALSE(m.lower);
            }
            matched += m.lower ? 1 : 0;
            ++ends;
        }
        std::vector<BaseRange> lowerStrokes;
        for (std::size_t j = 0; j < lower->strokes.size(); ++j) {
            const auto from = static_cast<std::size_t>(j == 0 ? 0 : lower->strokes[j - 1].bar);
            lowerStrokes.push_back({lower->firstBase[from],
                                    lower->lastBase[static_cast<std::size_t>(lower->strokes[j].bar)]});
        }
        std::vector<BaseRange> lowerPivots;
        for (const LevelPivot& p : lower->pivots) {
            lowerPivots.push_back({lower->firstBase[static_cast<std::size_t>(p.start)],
                                   lower->lastBase[static_cast<std::size_t>(p.end)]});
        }
        for (const StructureLink& l : links.strokes) {
            expectMaximalRun(lower->strokes, lowerStrokes, l.inside.strokes, l.base, "stroke");
            expectMaximalRun(lower->pivots, lowerPivots, l.inside.pivots, l.base, "pivot");
        }
        for (const StructureLink& l : links.pivots) {
            expectMaximalRun(lower->strokes, lowerStrokes, l.inside.strokes, l.base, "stroke in pivot");
        }
    }
    // Most higher-level extremes are lower-level stroke ends too.
    EXPECT_GT(matched * 2, ends);
}

// Two levels by hand: higher bars 0-2 hold base bars 0-3, 4-7, 8-11.
TEST(LinkLevels, HandBuiltTwoLevels) {
    // Base bars 2 and 3 both make higher bar 0's high: the first is where it was made.
    const std::vector<float> baseHigh = {5, 6, 7, 7, 6, 5, 4, 4.5f, 5, 6, 8, 7};
    const std::vector<float> baseLow = {4, 5, 6, 5.5f, 5, 4, 3, 3.5f, 4, 5, 7, 6};
    const std::vector<std::int32_t> first = {0, 4, 8}, last = {3, 7, 11};
    const std::vector<float> higherHigh = {7, 6, 8}, higherLow = {4, 3, 4};
    Level higher{higherHigh, higherLow, first, last, {{0, 1}, {1, -1}, {2, 1}}, {}, {}, {{1, 1}}};
    std::vector<std::int32_t> index(12);
    for (std::int32_t i = 0; i < 12; ++i) index[static_cast<std::size_t>(i)] = i;
    // Lower ends: a top at base bar 2, a bottom at 6, a top at 10; lower points:
    // a buy at 6, a sell at 10, a buy at 9 (outside the stroke ending at bar 1).
    Level lower{baseHigh, baseLow, index, index, {{2, 1}, {6, -1}, {10, 1}}, {}, {}, {{6, 1}, {9, 1}, {10, -1}}};
    const LevelLinks links =
        LinkLevels(higher.view(), lower.view(), higherHigh, higherLow, baseHigh, baseLow);
    ASSERT_EQ(links.strokeEnds.size(), 3u);
    EXPECT_EQ(links.strokeEnds[0].baseBar, 2);
    EXPECT_EQ(links.strokeEnds[0].lower, 0);
    EXPECT_EQ(links.strokeEnds[1].baseBar, 6);
    EXPECT_EQ(links.strokeEnds[1].lower, 1);
    EXPECT_EQ(links.strokeEnds[2].baseBar, 10);
    EXPECT_EQ(links.strokeEnds[2].lower, 2);
    // The stroke ending at higher bar 1 covers base bars 0-7 and holds lower strokes 0 and 1.
    EXPECT_EQ(links.strokes[1].base.first, 0);
    EXPECT_EQ(links.strokes[1].base.last, 7);
    EXPECT_EQ(links.strokes[1].inside.strokes.first, 0);
    EXPECT_EQ(links.strokes[1].inside.strokes.count, 2);
    // The buy at higher bar 1 is confirmed by the lower buy at 6, not the one at 9.
    ASSERT_EQ(links.confirmations.size(), 1u);
    EXPECT_EQ(links.confirmations[0], std::vector<std::int32_t>{0});
    // A point where no higher stroke ends has no confirmations.
    Level noEnd = higher;
    noEnd.strokes = {{0, 1}, {2, 1}};
    EXPECT_TRUE(
        LinkLevels(noEnd.view(), lower.view(), higherHigh, higherLow, baseHigh, baseLow).confirmations[0].empty());
    // A lower top where the higher bottom was made is no match.
    lower.strokes[1].direction = 1;
    EXPECT_FALSE(LinkLevels(higher.view(), lower.view(), higherHigh, higherLow, baseHigh, baseLow).strokeEnds[1].lower);
    // A lower bottom one bar away from the extreme is no match; ending at
    // base bar 7, the higher stroke's last, it still lies inside that stroke.
    lower.strokes[1] = {7, -1};
    const LevelLinks moved =
        LinkLevels(higher.view(), lower.view(), higherHigh, higherLow, baseHigh, baseLow);
    EXPECT_FALSE(moved.strokeEnds[1].lower);
    EXPECT_EQ(moved.strokes[1].inside.strokes.first, 0);
    EXPECT_EQ(moved.strokes[1].inside.strokes.count, 2);
}

// Every entry point of the libraries refuses a span that does not hold one
// value per bar (or an index past a table) before reading it, and names the
// argument. The short spans are views into longer vectors, so a read past
// their end finds numbers rather than a crash.
TEST(EntryPoints, RefuseSpansAndIndexesOutOfRange) {
    const std::vector<float> five = {5, 6, 7, 6.5f, 6, 5, 4, 4.5f, 5, 6, 8, 7};
    const std::vector<float> four = {4, 5, 6, 5.5f, 5, 4, 3, 3.5f, 4, 5, 7, 6};
    const auto bars = [](const std::vector<float>& v, std::size_t n) { return std::span(v).first(n); };
    const std::vector<std::int32_t> first = {0, 4, 8}, last = {3, 7, 11};
    const std::vector<float> higherHigh = {7, 6, 8}, higherLow = {4, 3, 4};
    const std::vector<LevelEnd> higherEnds = {{0, 1}, {1, -1}, {2, 1}};
    const LevelStructures lower{};
    const auto higher = [&](std::size_t lastBases) {
        return LevelStructures{higherEnds, {}, {}, {}, first, std::span(last).first(lastBases)};
    };
    const std::vector<TurningPoint> ends = {{2, true, 7.0f}, {6, false, 3.0f}, {10, true, 8.0f}};
    const std::vector<double> histogram(12, 0.5);
    const std::vector<Seconds> time = {60, 120, 180, 240};
    const BaseBars shortClose{time, {}, bars(five, 4), bars(four, 4), bars(five, 3), {}};
    const Period fiveMinutes = *ParsePeriod("5min");

    const struct {
        const char* call;
        const char* names;  // what the message must name
        std::function<void()> run;
    } cases[] = {
        {"ReplaySeries", "low", [&] { ReplaySeries(bars(five, 5), bars(four, 4), bars(five, 5)); }},
        {"ReplaySeries", "close", [&] { ReplaySeries(bars(five, 5), bars(four, 5), bars(five, 4)); }},
        {"ReplayWithPoints", "close", [&] { ReplayWithPoints(bars(five, 5), bars(four, 5), bars(five, 4)); }},
        {"StreamTradingPoints", "close", [&] { StreamTradingPoints(bars(five, 5), bars(four, 5), bars(five, 4)); }},
        {"CalcTradingPoints", "low", [&] { CalcTradingPoints(bars(five, 5), bars(four, 4), {}); }},
        {"LevelReplay::push", "close", [&] { LevelReplay(std::span(&fiveMinutes, 1)).push(shortClose); }},
        {"LevelReplay::push", "close", [&] { LevelReplay({}).push(shortClose); }},
        {"LinkLevels", "lastBase", [&] { LinkLevels(higher(2), lower, higherHigh, higherLow, five, four); }},
        {"LinkLevels", "higherHigh", [&] {
             LinkLevels(higher(3), lower, bars(higherHigh, 2), higherLow, five, four);
         }},
        {"LinkLevels", "baseLow", [&] { LinkLevels(higher(3), lower, higherHigh, higherLow, five, bars(four, 6)); }},
        {"StrokeForce", "k = 2", [&] { StrokeForce(std::span(ends).first(2), 2, histogram, ForceMeasure::Area); }},
        {"StrokeForce", "histogram", [&] { StrokeForce(ends, 2, std::span(histogram).first(10), ForceMeasure::Peak); }},
        {"ForceMeasureName", "force measure", [] { (void)ForceMeasureName(static_cast<ForceMeasure>(4)); }},
    };
    for (const auto& c : cases) {
        try {
            c.run();
            ADD_FAILURE() << c.call << " read a span or table past its end (" << c.names << ")";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.names), std::string::npos) << c.call << ": " << e.what();
        }
    }
}

}  // namespace vlm::levels
