#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "points/point_replay.h"
#include "points/point_stream.h"
#include "points/trading_points.h"
#include "stream/streaming_engine.h"
#include "support/series_gen.h"
#include "faces/replay_columns.h"

namespace vlm {
namespace {

using testing::Bars;
using testing::makeBars;
using testing::Shape;

template <typename T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Field by field, floats and doubles by their bits.
bool samePoint(const TradingPoint& a, const TradingPoint& b) {
    if (a.side != b.side || a.bar != b.bar || !sameBits(a.price, b.price) || a.classes != b.classes ||
        !sameBits(a.leavingForce, b.leavingForce) || !sameBits(a.enteringForce, b.enteringForce) ||
        !sameBits(a.forceRatio, b.forceRatio) || a.follows != b.follows) {
        return false;
    }
    for (std::size_t c = 0; c < 3; ++c) {
        const PointPivot& x = a.pivots[c];
        const PointPivot& y = b.pivots[c];
        if (x.pivot.start != y.pivot.start || x.pivot.end != y.pivot.end ||
            !sameBits(x.pivot.upper, y.pivot.upper) || !sameBits(x.pivot.lower, y.pivot.lower) ||
            !sameBits(x.pivot.trend, y.pivot.trend) || !sameBits(x.runCount, y.runCount)) {
            return false;
        }
    }
    return true;
}

bool samePoints(const std::vector<TradingPoint>& a, const std::vector<TradingPoint>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), samePoint);
}

std::vector<float> closesOf(const Bars& bars) {
    std::vector<float> close(bars.size());
    for (std::size_t i = 0; i < close.size(); ++i) close[i] = MidPrice(bars.high[i], bars.low[i]);
    return close;
}

struct StreamCase {
    Shape shape;
    std::size_t bars;
    std::uint32_t seed;
    TradingPointOptions options;
};

TradingPointOptions withMeasure(ForceMeasure m) {
    TradingPointOptions o;
    o.force = m;
    return o;
}

TradingPointOptions loose() {
    TradingPointOptions o;
    o.class1MinRun = 1;
    o.divergenceRatio = 1.5;
    o.macd = {5, 13, 4};
    return o;
}

class PointsStreamEqualsBatch : public ::testing::TestWithParam<StreamCase> {};

// After every push the points are those of the batch routine on the
// prefix's structures, bit for bit; what was called final is still there
// unchanged; and the changes of each push turn the points before it into
// the points after it.
TEST_P(PointsStreamEqualsBatch, AfterEveryPush) {
    const StreamCase& c = GetParam();
    const Bars bars = makeBars(c.shape, c.bars, c.seed);
    const std::vector<float> close = closesOf(bars);
    StreamingEngine engine;
    TradingPointStream stream(c.options);
    std::vector<ShownPoint> finalBefore;
    std::vector<TradingPoint> before;
    std::size_t shown = 0;
    for (std::size_t t = 0; t < bars.size(); ++t) {
        engine.push(bars.high[t], bars.low[t]);
        stream.push(engine, close[t]);
        const BarStructures s = StructuresOfBars({bars.high.data(), t + 1}, {bars.low.data(), t + 1},
                                                 {close.data(), t + 1}, c.options.macd);
        const std::vector<TradingPoint> expected = CalcTradingPoints(s.view(), c.options);
        const std::vector<TradingPoint> got = stream.points();
        ASSERT_TRUE(samePoints(got, expected)) << "after bar " << t << ": " << got.size() << " vs "
                                               << expected.size();
        ASSERT_TRUE(std::equal(s.histogram.begin(), s.histogram.end(), stream.histogram().begin(),
                               stream.histogram().end(), sameBits<double>));

        const auto finals = stream.finalPoints();
        ASSERT_GE(finals.size(), finalBefore.size());
        ASSERT_TRUE(std::equal(finalBefore.begin(), finalBefore.end(), finals.begin()))
            << "a final point changed at bar " << t;
        for (const ShownPoint& p : finals) ASSERT_LE(p.point.bar, stream.finalThrough());
        for (const ShownPoint& p : stream.pendingPoints()) {
            ASSERT_GT(p.point.bar, stream.finalThrough());
            ASSERT_EQ(p.finalBar, -1);
            ASSERT_LE(p.appearedBar, static_cast<std::int32_t>(t));
        }

        // Replaying the changes on the points before gives the points after.
        std::vector<TradingPoint> replayed = before;
        for (const PointEvent& e : stream.changes()) {
            ASSERT_GE(e.point.appearedBar, e.point.point.bar);  // a point shows at its bar or later
            ASSERT_EQ(e.change == PointChange::Withdrawn ? e.point.withdrawnBar
                      : e.change == PointChange::Final   ? e.point.finalBar
                                                         : e.point.appearedBar,
                      static_cast<std::int32_t>(t));
            if (e.change == PointChange::Appeared) {
                replayed.push_back(e.point.point);
                ++shown;
            } else if (e.change == PointChange::Withdrawn) {
                const auto it = std::find(replayed.begin(), replayed.end(), e.point.point);
                ASSERT_NE(it, replayed.end()) << "withdrew a point not shown, bar " << t;
                replayed.erase(it);
            }
        }
        std::sort(replayed.begin(), replayed.end(),
                  [](const TradingPoint& a, const TradingPoint& b) { return a.bar < b.bar; });
        ASSERT_TRUE(samePoints(replayed, got)) << "changes of bar " << t;
        before = got;
        finalBefore.assign(finals.begin(), finals.end());
    }
    // Every point ever shown is final, withdrawn, or still pending.
    EXPECT_EQ(shown, stream.finalPoints().size() + stream.withdrawn().size() +
                         stream.pendingPoints().size());
    if (c.shape == Shape::QuantisedWalk) {
        EXPECT_GT(stream.finalPoints().size(), 5u) << "the series should make points";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Series, PointsStreamEqualsBatch,
    ::testing::Values(StreamCase{Shape::QuantisedWalk, 3000, 1, {}},
                      StreamCase{Shape::QuantisedWalk, 3000, 2, loose()},
                      StreamCase{Shape::QuantisedWalk, 2000, 3, withMeasure(ForceMeasure::FullArea)},
                      StreamCase{Shape::QuantisedWalk, 2000, 4, withMeasure(ForceMeasure::Peak)},
                      StreamCase{Shape::QuantisedWalk, 2000, 5, withMeasure(ForceMeasure::Slope)},
                      StreamCase{Shape::TinyValueSet, 2000, 6, loose()},
                      StreamCase{Shape::WithNaN, 2000, 7, loose()},
                      StreamCase{Shape::ZeroAndNegative, 2000, 8, {}},
                      StreamCase{Shape::LowAboveHigh, 2000, 9, loose()},
                      StreamCase{Shape::PendingGrowing, 500, 10, {}}),
    [](const ::testing::TestParamInfo<StreamCase>& info) {
        return std::string(testing::shapeName(info.param.shape)) + "_" +
               std::to_string(info.param.seed);
    });

// A point called final is never looked at again, so one called final too
// early stays wrong to the end: long series checked at their last bar.
TEST(PointsStream, LongSeriesEndAsBatch) {
    std::size_t finals = 0;
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        const Shape shape = seed % 3 == 0 ? Shape::TinyValueSet : Shape::QuantisedWalk;
        const Bars bars = makeBars(shape, 20000, 1000 + seed);
        const TradingPointOptions options = seed % 2 == 0 ? loose() : TradingPointOptions{};
        StreamingEngine engine;
        TradingPointStream stream(options);
        for (std::size_t t = 0; t < bars.size(); ++t) {
            engine.push(bars.high[t], bars.low[t]);
            stream.push(engine, MidPrice(bars.high[t], bars.low[t]));
        }
        ASSERT_TRUE(samePoints(stream.points(), CalcTradingPoints(bars.high, bars.low, {}, options)))
            << "seed " << seed;
        finals += stream.finalPoints().size();
    }
    EXPECT_GT(finals, 1000u);
}

// Every field of a point event, floats and doubles by their bits.
bool sameEvent(const PointReplayEvent& a, const PointReplayEvent& b) {
    return a.bar == b.bar && a.kind == b.kind && samePoint(a.point.point, b.point.point) &&
           a.point.appearedBar == b.point.appearedBar && a.point.finalBar == b.point.finalBar &&
           a.point.withdrawnBar == b.point.withdrawnBar;
}

// The as-of row as the files write it: the structures' columns, then the points'.
std::vector<double> rowValues(const PointReplayLog& log, std::size_t bar) {
    std::vector<double> values(AsOfColumns().size() + PointAsOfColumns().size());
    AsOfValues(log.rows[bar], std::span(values).first(AsOfColumns().size()));
    PointAsOfValues(log.points[bar], std::span(values).subspan(AsOfColumns().size()));
    return values;
}

// What the replay showed at bar t comes from bars 0..t only: with every bar
// after t replaced by a bar of another series, the replay of the whole
// series has the same rows and point events up to t, bit for bit.
TEST(PointsNoLookAhead, OtherBarsAfterT) {
    const std::size_t n = 1500;
    for (const Shape shape : {Shape::QuantisedWalk, Shape::WithNaN, Shape::TinyValueSet, Shape::ZeroAndNegative}) {
        const Bars bars = makeBars(shape, n, 21);
        const Bars other = makeBars(shape, n, 22);
        const PointReplayLog full = ReplayWithPoints(bars.high, bars.low, closesOf(bars), loose());
        std::size_t events = 0;
        const std::size_t cuts[] = {0, 200, 517, 900, 1201, n - 2};
        for (const std::size_t t : cuts) {
            Bars mixed = bars;
            const auto after = static_cast<std::ptrdiff_t>(t + 1);
            std::copy(other.high.begin() + after, other.high.end(), mixed.high.begin() + after);
            std::copy(other.low.begin() + after, other.low.end(), mixed.low.begin() + after);
            const PointReplayLog altered = ReplayWithPoints(mixed.high, mixed.low, closesOf(mixed), loose());
            const std::string where = std::string(testing::shapeName(shape)) + ", bars after " + std::to_string(t);
            ASSERT_EQ(altered.rows.size(), n) << where;
            for (std::size_t i = 0; i <= t; ++i) {
                const std::vector<double> a = rowValues(full, i), b = rowValues(altered, i);
                ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0) << where << ": row " << i;
            }
            std::size_t k = 0;
            for (; k < full.pointEvents.size() && full.pointEvents[k].bar <= static_cast<std::int32_t>(t); ++k) {
                ASSERT_LT(k, altered.pointEvents.size()) << where;
                ASSERT_TRUE(sameEvent(full.pointEvents[k], altered.pointEvents[k])) << where << ": event " << k;
            }
            ASSERT_TRUE(k == altered.pointEvents.size() || altered.pointEvents[k].bar > static_cast<std::int32_t>(t))
                << where;
            events += k;
        }
        if (shape == Shape::QuantisedWalk) {
            EXPECT_GT(events, 100u) << "the series should make points";
        }
    }
}

// What was final at bar t is a point of every longer series that shares
// bars 0..t, whatever follows.
TEST(PointsNoLookAhead, FinalPointsStay) {
    const std::size_t n = 1500;
    const Bars base = makeBars(Shape::QuantisedWalk, n, 21);
    const TradingPointOptions options = loose();
    // The points known after every bar, and the final ones, for a series.
    struct Known {
        std::vector<std::vector<TradingPoint>> points;
        std::vector<std::vector<ShownPoint>> finals;
    };
    const auto known = [&](const Bars& bars) {
        Known k;
        StreamingEngine engine;
        TradingPointStream stream(options);
        for (std::size_t t = 0; t < bars.size(); ++t) {
            engine.push(bars.high[t], bars.low[t]);
            stream.push(engine, MidPrice(bars.high[t], bars.low[t]));
            k.points.push_back(stream.points());
            k.finals.emplace_back(stream.finalPoints().begin(), stream.finalPoints().end());
        }
        return k;
    };
    const Known a = known(base);
    std::mt19937 rng(5);
    std::size_t checkedFinals = 0;
    for (const std::size_t cut : {200u, 517u, 900u, 1201u}) {
        for (int variant = 0; variant < 3; ++variant) {
            // The same bars up to the cut, then a walk of its own.
            Bars b = base;
            const Bars other = makeBars(Shape::QuantisedWalk, n, 100 + static_cast<std::uint32_t>(variant));
            const float shift = base.high[cut] - other.high[cut];
            for (std::size_t i = cut + 1; i < n; ++i) {
                b.high[i] = other.high[i] + shift;
                b.low[i] = other.low[i] + shift;
            }
            const Known k = known(b);
            // Final at the cut: present, unchanged, at every later length.
            const std::vector<ShownPoint>& finals = a.finals[cut];
            for (std::size_t len = cut + 1; len <= n; len += 1 + rng() % 97) {
                const std::vector<TradingPoint>& later = k.points[len - 1];
                for (const ShownPoint& f : finals) {
                    const auto it = std::find_if(later.begin(), later.end(), [&](const TradingPoint& p) {
                        return p.bar == f.point.bar;
                    });
                    ASSERT_TRUE(it != later.end() && samePoint(*it, f.point))
                        << "point at bar " << f.point.bar << " final at " << cut << " gone at " << len;
                    ++checkedFinals;
                }
            }
        }
    }
    EXPECT_GT(checkedFinals, 100u);
}

void expectSameStream(const TradingPointStream& a, const TradingPointStream& b, std::size_t t) {
    ASSERT_TRUE(samePoints(a.points(), b.points())) << "bar " << t;
    ASSERT_TRUE(std::ranges::equal(a.finalPoints(), b.finalPoints())) << "bar " << t;
    ASSERT_TRUE(std::ranges::equal(a.pendingPoints(), b.pendingPoints())) << "bar " << t;
    ASSERT_TRUE(std::ranges::equal(a.withdrawn(), b.withdrawn())) << "bar " << t;
    ASSERT_TRUE(std::ranges::equal(a.changes(), b.changes())) << "bar " << t;
    ASSERT_EQ(a.finalThrough(), b.finalThrough()) << "bar " << t;
    ASSERT_TRUE(std::ranges::equal(a.histogram(), b.histogram(), sameBits<double>)) << "bar " << t;
}

// A provisional bar, in several values, reads as the bar pushed; taken back,
// the stream goes on exactly as one that never saw it.
TEST(PointsStream, ProvisionalBarReadsAsPushedAndLeavesNoTrace) {
    for (const auto& [shape, seed] : {std::pair{Shape::QuantisedWalk, 31u}, std::pair{Shape::WithNaN, 32u}}) {
        const Bars bars = makeBars(shape, 1500, seed);
        const Bars other = makeBars(shape, 1500, seed + 100);
        StreamingEngine engine, plainEngine;
        TradingPointStream stream(loose()), plain(loose());
        for (std::size_t t = 0; t < bars.size(); ++t) {
            const std::pair<float, float> values[] = {{other.high[t], other.low[t]},
                                                      {bars.high[t] + 0.3f, bars.low[t] - 0.3f}};
            for (const auto& [high, low] : values) {
                engine.pushProvisional(high, low);
                stream.pushProvisional(engine, MidPrice(high, low));
                StreamingEngine pushedEngine = plainEngine;
                TradingPointStream pushed = plain;
                pushedEngine.push(high, low);
                pushed.push(pushedEngine, MidPrice(high, low));
                expectSameStream(stream, pushed, t);
            }
            if (t % 3 == 0) {
                stream.takeBackProvisional();
                expectSameStream(stream, plain, t);
            }
            engine.push(bars.high[t], bars.low[t]);
            stream.push(engine, MidPrice(bars.high[t], bars.low[t]));
            plainEngine.push(bars.high[t], bars.low[t]);
            plain.push(plainEngine, MidPrice(bars.high[t], bars.low[t]));
            expectSameStream(stream, plain, t);
        }
        EXPECT_GT(plain.finalPoints().size(), 5u) << testing::shapeName(shape);
    }
}

TEST(PointsStream, RefusesAnEngineOutOfStep) {
    StreamingEngine engine;
    TradingPointStream stream;
    engine.push(2.0f, 1.0f);
    engine.push(3.0f, 2.0f);
    EXPECT_THROW(stream.push(engine, 1.5f), std::logic_error);
}

}  // namespace
}  // namespace vlm

namespace vlm {
namespace {

// What one update newly showed, from its changes: hand-made lists, since a
// point withdrawn and shown again at its own bar is rare in generated walks.
TEST(NewlyShown, ClassesShownAfterTheUpdateAndNotBefore) {
    const auto point = [](std::int32_t bar, PointSide side, std::uint8_t classes) {
        TradingPoint p;
        p.bar = bar;
        p.side = side;
        p.classes = classes;
        return p;
    };
    const auto event = [](PointChange change, const TradingPoint& p) { return PointEvent{change, {p, 0, -1, -1}}; };
    const PointSide buy = PointSide::Buy, sell = PointSide::Sell;
    const std::uint8_t c1 = ClassBit(1), c2 = ClassBit(2), c3 = ClassBit(3);
    struct Case {
        const char* name;
        std::vector<PointEvent> changes;
        std::int32_t bar;  // -1: nothing new
        std::uint8_t classes;
        PointSide side = PointSide::Buy;
    };
    const std::vector<Case> cases = {
        {"nothing changed", {}, -1, 0},
        {"a point appears", {event(PointChange::Appeared, point(5, buy, c3))}, 5, c3},
        {"a point only becomes final", {event(PointChange::Final, point(5, buy, c3))}, -1, 0},
        {"a point is only withdrawn", {event(PointChange::Withdrawn, point(5, buy, c3))}, -1, 0},
        {"a class joins a shown point",
         {event(PointChange::Appeared, point(5, buy, c2 | c3)), event(PointChange::Withdrawn, point(5, buy, c3))}, 5,
         c2},
        {"a point changes but keeps its classes",
         {event(PointChange::Appeared, point(5, buy, c1)), event(PointChange::Withdrawn, point(5, buy, c1))}, -1, 0},
        {"a point turns to the other side",
         {event(PointChange::Appeared, point(5, sell, c1)), event(PointChange::Withdrawn, point(5, buy, c1))}, 5, c1, sell},
        {"the latest of several points",
         {event(PointChange::Appeared, point(3, sell, c1)), event(PointChange::Appeared, point(8, buy, c2)),
          event(PointChange::Withdrawn, point(6, buy, c3))},
         8, c2},
        {"the latest point with a new class",
         {event(PointChange::Appeared, point(3, sell, c1)), event(PointChange::Appeared, point(8, buy, c2)),
          event(PointChange::Withdrawn, point(8, buy, c2))},
         3, c1, sell},
    };
    for (const Case& c : cases) {
        const std::optional<TradingPoint> shown = NewlyShown(c.changes);
        EXPECT_EQ(shown.has_value(), c.bar >= 0) << c.name;
        if (!shown || c.bar < 0) continue;
        EXPECT_EQ(shown->bar, c.bar) << c.name;
        EXPECT_EQ(shown->classes, c.classes) << c.name;
        EXPECT_EQ(shown->side, c.side) << c.name;
    }
}

}  // namespace
}  // namespace vlm
