#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "stream/replay.h"
#include "stream/streaming_engine.h"
#include "support/series_gen.h"
#include "faces/replay_text.h"
#include "faces/replay_columns.h"

namespace vlm {
namespace {

using testing::Bars;
using testing::makeBars;
using testing::runFunction;
using testing::sameBits;
using testing::Shape;

// The host's view of a prefix: functions 1 and 2 on the bars, 3 to 9 on
// function 2's output.
std::vector<std::vector<float>> routinesOn(std::span<const float> high, std::span<const float> low) {
    std::vector<std::vector<float>> out(10);
    out[2] = runFunction(2, {}, high, low);
    for (int n = 1; n <= 9; ++n) {
        if (n != 2) out[n] = runFunction(n, out[2], high, low);
    }
    return out;
}

struct StreamCase {
    Shape shape;
    std::size_t bars;
    std::uint32_t seed;
};

class StreamingEqualsRoutines : public ::testing::TestWithParam<StreamCase> {};

// After every push the nine outputs are those of the routines on the prefix,
// the pivot under way is the one the walk leaves open, and what the engine
// called final is still there, unchanged, at every later push.
TEST_P(StreamingEqualsRoutines, AfterEveryPush) {
    const StreamCase& c = GetParam();
    const Bars bars = makeBars(c.shape, c.bars, c.seed);
    StreamingEngine engine;
    std::array<std::vector<SignalMark>, kMarkSeriesCount> finalMarks;
    std::vector<Pivot> finalPivots;
    std::vector<PivotClose> finalCloses;
    std::vector<float> out;
    for (std::size_t t = 0; t < bars.size(); ++t) {
        engine.push(bars.high[t], bars.low[t]);
        ASSERT_EQ(engine.size(), t + 1);
        const std::span<const float> high(bars.high.data(), t + 1);
        const std::span<const float> low(bars.low.data(), t + 1);
        const auto expected = routinesOn(high, low);
        out.assign(t + 1, 777.0f);
        for (int n = 1; n <= 9; ++n) {
            engine.write(static_cast<std::size_t>(n), out);
            ASSERT_TRUE(sameBits(out, expected[static_cast<std::size_t>(n)]))
                << "function " << n << " after bar " << t;
        }
        const ZhongShuList withOpen =
            CalcPivotList(expected[2], high, low, {.includeOpenPivot = true});
        const std::optional<Pivot> open =
            withOpen.size() > engine.pivots().size() ? std::optional<Pivot>(withOpen.back()) : std::nullopt;
        ASSERT_EQ(engine.pivotUnderWay(), open) << "after bar " << t;
        ASSERT_TRUE(std::equal(engine.runCounts().begin(), engine.runCounts().end(),
                               PivotRunCounts(engine.pivots()).begin()));

        for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
            const auto marks = engine.marks(static_cast<MarkSeries>(s));
            ASSERT_GE(engine.finalMarks(static_cast<MarkSeries>(s)), finalMarks[s].size());
            ASSERT_TRUE(std::equal(finalMarks[s].begin(), finalMarks[s].end(), marks.begin()))
                << "a final mark of series " << s << " changed at bar " << t;
            finalMarks[s].assign(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(
                                                                    engine.finalMarks(static_cast<MarkSeries>(s))));
        }
        ASSERT_TRUE(std::equal(finalPivots.begin(), finalPivots.end(), engine.pivots().begin()));
        finalPivots.assign(engine.pivots().begin(), engine.pivots().begin() + static_cast<std::ptrdiff_t>(engine.finalPivots()));
        ASSERT_TRUE(std::equal(finalCloses.begin(), finalCloses.end(), engine.closes().begin()));
        finalCloses.assign(engine.closes().begin(), engine.closes().begin() + static_cast<std::ptrdiff_t>(engine.finalCloses()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, StreamingEqualsRoutines,
    ::testing::Values(StreamCase{Shape::QuantisedWalk, 2500, 1}, StreamCase{Shape::QuantisedWalk, 1500, 2},
                      StreamCase{Shape::TinyValueSet, 1500, 3}, StreamCase{Shape::WithNaN, 1500, 4},
                      StreamCase{Shape::ZeroAndNegative, 1500, 5}, StreamCase{Shape::LowAboveHigh, 1500, 6},
                      StreamCase{Shape::PendingGrowing, 600, 7}),
    [](const ::testing::TestParamInfo<StreamCase>& info) {
        return std::string(testing::shapeName(info.param.shape)) + "_" + std::to_string(info.param.seed);
    });

// Everything a reader can see of an engine, bit for bit where it is a float.
void expectSameEngine(const StreamingEngine& a, const StreamingEngine& b, const std::string& where) {
    ASSERT_TRUE(sameBits(a.high(), b.high()) && sameBits(a.low(), b.low())) << where;
    for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
        const auto series = static_cast<MarkSeries>(s);
        ASSERT_TRUE(std::ranges::equal(a.marks(series), b.marks(series))) << where << ", series " << s;
        ASSERT_EQ(a.finalMarks(series), b.finalMarks(series)) << where << ", series " << s;
    }
    ASSERT_EQ(a.pivots(), b.pivots()) << where;
    ASSERT_EQ(a.finalPivots(), b.finalPivots()) << where;
    ASSERT_TRUE(sameBits(a.runCounts(), b.runCounts())) << where;
    ASSERT_TRUE(std::ranges::equal(a.closes(), b.closes())) << where;
    ASSERT_EQ(a.finalCloses(), b.finalCloses()) << where;
    ASSERT_EQ(a.pivotUnderWay(), b.pivotUnderWay()) << where;
    // A NaN price is a NaN in both: compared by its bits.
    ASSERT_TRUE(std::ranges::equal(a.strokeEnds(), b.strokeEnds(), [](const TurningPoint& x, const TurningPoint& y) {
        return x.bar == y.bar && x.isTop == y.isTop && sameBits(std::span(&x.price, 1), std::span(&y.price, 1));
    })) << where;
    ASSERT_EQ(a.pivotOpenAtFinalEnds(), b.pivotOpenAtFinalEnds()) << where;
}

class ProvisionalBar : public ::testing::TestWithParam<StreamCase> {};

// A bar still changing takes several values before it is pushed for good.
// With each, the engine is the one that pushed bars 0..t-1 and that value
// (whose outputs the test above proves equal to the routines'); taken back,
// it goes on exactly as an engine that never saw it.
TEST_P(ProvisionalBar, ReadsAsPushedAndLeavesNoTrace) {
    const StreamCase& c = GetParam();
    const Bars bars = makeBars(c.shape, c.bars, c.seed);
    const Bars other = makeBars(c.shape, c.bars, c.seed + 100);
    StreamingEngine engine;
    StreamingEngine plain;  // final bars only
    for (std::size_t t = 0; t < bars.size(); ++t) {
        // Another bar, the bar itself, then the bar widened as a forming bar widens.
        const std::pair<float, float> values[] = {{other.high[t], other.low[t]},
                                                  {bars.high[t], bars.low[t]},
                                                  {bars.high[t] + 0.5f, bars.low[t] - 0.5f}};
        for (const auto& [high, low] : values) {
            engine.pushProvisional(high, low);
            ASSERT_TRUE(engine.hasProvisional());
            StreamingEngine pushed = plain;
            pushed.push(high, low);
            expectSameEngine(engine, pushed, "provisional bar " + std::to_string(t));
        }
        if (t % 4 == 0) {
            engine.takeBackProvisional();
            expectSameEngine(engine, plain, "taken back at bar " + std::to_string(t));
        }
        engine.push(bars.high[t], bars.low[t]);
        plain.push(bars.high[t], bars.low[t]);
        ASSERT_FALSE(engine.hasProvisional());
        expectSameEngine(engine, plain, "bar " + std::to_string(t));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ProvisionalBar,
    ::testing::Values(StreamCase{Shape::QuantisedWalk, 600, 1}, StreamCase{Shape::TinyValueSet, 400, 3},
                      StreamCase{Shape::WithNaN, 400, 4}, StreamCase{Shape::ZeroAndNegative, 400, 5},
                      StreamCase{Shape::LowAboveHigh, 400, 6}, StreamCase{Shape::PendingGrowing, 300, 7}),
    [](const ::testing::TestParamInfo<StreamCase>& info) {
        return std::string(testing::shapeName(info.param.shape)) + "_" + std::to_string(info.param.seed);
    });

// Without bars there is nothing to show: every function writes zeros over
// whatever the buffer held, and a number that names no function writes
// zeros whatever the bars.
TEST(StreamingEngine, NoBarsWritesZeros) {
    StreamingEngine engine;
    EXPECT_TRUE(engine.pivots().empty());
    EXPECT_FALSE(engine.pivotUnderWay().has_value());
    const std::vector<float> zeros(3, 0.0f);
    for (std::size_t n = 0; n <= 10; ++n) {
        std::vector<float> out(3, 777.0f);
        engine.write(n, out);
        EXPECT_EQ(out, zeros) << "function " << n;
    }
    for (const float high : {10.0f, 9.0f, 8.0f}) engine.push(high, high - 1.0f);
    for (const std::size_t n : {0u, 10u}) {
        std::vector<float> out(3, 777.0f);
        engine.write(n, out);
        EXPECT_EQ(out, zeros) << "function " << n;
    }
}

// The worked example of the strokes: the down stroke is shown from bar 4,
// and the first top becomes final only when bar 4's merged bar is final.
TEST(StreamingEngine, StrokeMarksAndWhenTheyBecomeFinal) {
    const float highs[] = {10, 9, 8, 7, 6, 7, 8, 9, 10, 11};
    StreamingEngine engine;
    struct Seen {
        std::size_t marks;
        std::size_t final;
    };
    const Seen expected[] = {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {2, 0},
                             {2, 1}, {2, 1}, {2, 1}, {3, 1}, {3, 2}};
    for (std::size_t t = 0; t < 10; ++t) {
        engine.push(highs[t], highs[t] - 1.0f);
        EXPECT_EQ(engine.marks(MarkSeries::Strokes).size(), expected[t].marks) << "bar " << t;
        EXPECT_EQ(engine.finalMarks(MarkSeries::Strokes), expected[t].final) << "bar " << t;
    }
    const std::vector<SignalMark> marks(engine.marks(MarkSeries::Strokes).begin(),
                                        engine.marks(MarkSeries::Strokes).end());
    EXPECT_EQ(marks, (std::vector<SignalMark>{{0, 1.0f}, {4, -1.0f}, {9, 1.0f}}));
}

// --- events and as-of rows ------------------------------------------------

TEST(Replay, EventsOfTheStrokeExample) {
    // Highs 10, 9, 8, 7, 6, 5.8 with lows 9, 8, 7, 6, 5, 5.2, then 4.5/3.
    const float highs[] = {10, 9, 8, 7, 6, 5.8f, 4.5f};
    const float lows[] = {9, 8, 7, 6, 5, 5.2f, 3};
    Replay replay;
    std::vector<std::vector<std::string>> seen;
    for (std::size_t t = 0; t < 7; ++t) {
        replay.push(highs[t], lows[t], lows[t]);
        std::vector<std::string> stroke;
        for (const ReplayEvent& e : replay.events()) {
            if (e.subject == EventSubject::Stroke) stroke.push_back(describe(e));
        }
        seen.push_back(stroke);
    }
    EXPECT_EQ(seen[0], (std::vector<std::string>{"stroke top at bar 0 appeared (10)"}));
    EXPECT_TRUE(seen[3].empty());
    EXPECT_EQ(seen[4], (std::vector<std::string>{"stroke bottom at bar 4 appeared (5)"}));
    // Bar 5 lies inside bar 4: merged, and the bottom stays on bar 4.
    EXPECT_TRUE(seen[5].empty());
    // Bar 6 opens a new merged bar: bar 4's record is final, so is the top at
    // bar 0, and the bottom moves on to bar 6.
    EXPECT_EQ(seen[6], (std::vector<std::string>{"stroke bottom moved from bar 4 to bar 6 (3)",
                                                 "stroke top at bar 0 confirmed (10)"}));
    const AsOfRow& row = replay.asOf();
    EXPECT_EQ(row.bar, 6);
    EXPECT_EQ(row.inProgress[0], (MarkState{6, -1.0f, 3.0f}));
    EXPECT_EQ(row.lastFinal[0], (MarkState{0, 1.0f, 10.0f}));
    // As columns: bar, close, the stroke in progress and the last final one
    // (direction, bar, price each), a mark at bar 0 included.
    std::vector<double> values(AsOfColumns().size());
    AsOfValues(row, values);
    EXPECT_EQ(std::vector<double>(values.begin(), values.begin() + 8), (std::vector<double>{6, 3, -1, 6, 3, 1, 0, 10}));

    // A rise from the first bar moves the first top from bar 0: bar, at_bar,
    // from_bar, direction, price, then no pivot.
    Replay rising;
    rising.push(1.0f, 0.5f, 0.5f);
    rising.push(2.0f, 1.5f, 1.5f);
    const auto moved = std::find_if(rising.events().begin(), rising.events().end(), [](const ReplayEvent& e) {
        return e.subject == EventSubject::Stroke;
    });
    ASSERT_NE(moved, rising.events().end());
    EXPECT_EQ(describe(*moved), "stroke top moved from bar 0 to bar 1 (2)");
    std::vector<double> event(EventColumns().size());
    EventValues(*moved, event);
    EXPECT_EQ(std::vector<double>(event.begin(), event.begin() + 5), (std::vector<double>{1, 1, 0, 1, 2}));
    EXPECT_TRUE(std::all_of(event.begin() + 5, event.end(), [](double v) { return std::isnan(v); }));
}

// The close against a zone by the rule's words: 1 above its upper bound, -1
// below its lower bound, 0 within (bounds included), NaN without a zone or
// a close.
float placed(float close, const Pivot* zone) {
    if (zone == nullptr || std::isnan(close)) return std::nanf("");
    return close > zone->upper ? 1.0f : close < zone->lower ? -1.0f : 0.0f;
}

// Applying the events in order gives back, at every bar, exactly the marks,
// the listed pivots and the pivot under way that the engine shows; the
// pivot under way is extended only at its end and withdrawn only as shown,
// never when it closes; and the row places the close against both zones.
TEST(Replay, EventsRebuildWhatIsShown) {
    for (const Shape shape : {Shape::QuantisedWalk, Shape::TinyValueSet, Shape::WithNaN}) {
        const Bars bars = makeBars(shape, 3000, 11);
        Replay replay;
        std::array<std::map<std::int32_t, float>, kMarkSeriesCount> marks;
        std::vector<Pivot> listed;
        std::optional<Pivot> underWay;
        for (std::size_t t = 0; t < bars.size(); ++t) {
            replay.push(bars.high[t], bars.low[t], bars.low[t]);
            const AsOfRow& row = replay.asOf();
            const std::optional<Pivot>& open = replay.engine().pivotUnderWay();
            const ZhongShuList& shown = replay.engine().pivots();
            const float vsLast = placed(bars.low[t], shown.empty() ? nullptr : &shown.back());
            const float vsOpen = placed(bars.low[t], open ? &*open : nullptr);
            ASSERT_TRUE(sameBits(std::span(&row.closeVsLastPivot, 1), std::span(&vsLast, 1))) << "bar " << t;
            ASSERT_TRUE(sameBits(std::span(&row.closeVsPivotUnderWay, 1), std::span(&vsOpen, 1))) << "bar " << t;
            for (const ReplayEvent& e : replay.events()) {
                if (e.subject == EventSubject::PivotUnderWay && e.kind == EventKind::Extended) {
                    ASSERT_TRUE(underWay && underWay->start == e.pivot.start && underWay->upper == e.pivot.upper &&
                                underWay->lower == e.pivot.lower && underWay->end != e.pivot.end)
                        << describe(e) << " at bar " << t;
                }
                if (e.subject == EventSubject::PivotUnderWay && e.kind == EventKind::Withdrawn) {
                    ASSERT_EQ(underWay, e.pivot) << describe(e) << " at bar " << t;
                }
                ASSERT_EQ(e.bar, static_cast<std::int32_t>(t));
                const auto s = static_cast<std::size_t>(e.subject);
                switch (e.kind) {
                    case EventKind::Appeared: marks[s][e.at] = e.direction; break;
                    case EventKind::Moved:
                        ASSERT_EQ(marks[s].erase(e.from), 1u);
                        marks[s][e.at] = e.direction;
                        break;
                    case EventKind::Vanished: ASSERT_EQ(marks[s].erase(e.at), 1u); break;
                    case EventKind::Confirmed: ASSERT_EQ(marks[s].at(e.at), e.direction); break;
                    case EventKind::Closed: listed.push_back(e.pivot); break;
                    case EventKind::Withdrawn:
                        if (e.subject == EventSubject::Pivot) {
                            const auto it = std::find(listed.begin(), listed.end(), e.pivot);
                            if (it != listed.end()) listed.erase(it);
                        } else {
                            underWay.reset();
                        }
                        break;
                    case EventKind::Opened:
                    case EventKind::Extended: underWay = e.pivot; break;
                    case EventKind::Dropped: break;
                }
                if (e.subject == EventSubject::Pivot && e.kind != EventKind::Withdrawn && underWay &&
                    underWay->start == e.pivot.start) {
                    underWay.reset();
                }
            }
            const StreamingEngine& engine = replay.engine();
            for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
                std::vector<SignalMark> rebuilt;
                for (const auto& [bar, value] : marks[s]) rebuilt.push_back({static_cast<std::size_t>(bar), value});
                const auto shown = engine.marks(static_cast<MarkSeries>(s));
                ASSERT_TRUE(std::equal(rebuilt.begin(), rebuilt.end(), shown.begin(), shown.end()))
                    << testing::shapeName(shape) << " series " << s << " at bar " << t;
            }
            ASSERT_EQ(listed, engine.pivots()) << "at bar " << t;
            ASSERT_EQ(underWay, engine.pivotUnderWay()) << "at bar " << t;
        }
    }
}

// Every field of an event, floats by their bits.
auto eventBits(const ReplayEvent& e) {
    return std::tuple{e.bar, e.subject, e.kind, e.at, e.from, std::bit_cast<std::uint32_t>(e.direction),
                      std::bit_cast<std::uint32_t>(e.price), e.pivot.start, e.pivot.end,
                      std::bit_cast<std::uint32_t>(e.pivot.upper), std::bit_cast<std::uint32_t>(e.pivot.lower),
                      std::bit_cast<std::uint32_t>(e.pivot.trend)};
}

std::vector<double> rowValues(const AsOfRow& row) {
    std::vector<double> values(AsOfColumns().size());
    AsOfValues(row, values);
    return values;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The past does not depend on the future: with every bar after t replaced
// by a bar of another series, the whole series' replay has the same rows
// and events up to bar t, bit for bit.
TEST(Replay, NoLookAhead) {
    const std::size_t n = 1200;
    for (const Shape shape : {Shape::QuantisedWalk, Shape::TinyValueSet, Shape::WithNaN, Shape::LowAboveHigh}) {
        const Bars bars = makeBars(shape, n, 21);
        const Bars other = makeBars(shape, n, 22);
        const ReplayLog full = ReplaySeries(bars.high, bars.low, bars.high);
        const std::size_t cuts[] = {0, 1, 250, 777, n - 2};
        for (const std::size_t t : cuts) {
            Bars mixed = bars;
            const auto after = static_cast<std::ptrdiff_t>(t + 1);
            std::copy(other.high.begin() + after, other.high.end(), mixed.high.begin() + after);
            std::copy(other.low.begin() + after, other.low.end(), mixed.low.begin() + after);
            const ReplayLog altered = ReplaySeries(mixed.high, mixed.low, mixed.high);
            const std::string where = std::string(testing::shapeName(shape)) + ", bars after " + std::to_string(t);
            ASSERT_EQ(altered.rows.size(), n) << where;
            for (std::size_t i = 0; i <= t; ++i) {
                ASSERT_TRUE(sameBits(rowValues(full.rows[i]), rowValues(altered.rows[i]))) << where << ": row " << i;
            }
            bool differs = false;
            for (std::size_t i = t + 1; i < n && !differs; ++i) {
                differs = !sameBits(rowValues(full.rows[i]), rowValues(altered.rows[i]));
            }
            ASSERT_TRUE(differs) << where << ": the other bars should show";
            std::size_t k = 0;
            for (; k < full.events.size() && full.events[k].bar <= static_cast<std::int32_t>(t); ++k) {
                ASSERT_LT(k, altered.events.size()) << where;
                ASSERT_EQ(eventBits(full.events[k]), eventBits(altered.events[k])) << where << ": event " << k;
            }
            ASSERT_TRUE(k == altered.events.size() || altered.events[k].bar > static_cast<std::int32_t>(t)) << where;
        }
    }
}

TEST(Replay, CloseAgainstAZone) {
    const Pivot zone{1, 5, 12.0f, 10.0f, 1.0f};
    const struct {
        float close;
        float expected;
    } cases[] = {{12.5f, 1.0f}, {12.0f, 0.0f}, {11.0f, 0.0f}, {10.0f, 0.0f}, {9.99f, -1.0f}};
    for (const auto& c : cases) EXPECT_EQ(closeAgainst(c.close, zone), c.expected) << c.close;
    EXPECT_TRUE(std::isnan(closeAgainst(std::nanf(""), zone)));
}

}  // namespace
}  // namespace vlm
