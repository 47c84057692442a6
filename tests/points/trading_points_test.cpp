#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "points/point_replay.h"
#include "points/point_stream.h"
#include "stream/streaming_engine.h"
#include "points/trading_points.h"
#include "faces/replay_text.h"
#include "faces/replay_columns.h"

namespace vlm {
namespace {

// Hand-built structures: stroke ends every ten bars from bar 10, tops and
// bottoms in turn, and a histogram that holds one value over the bars of
// each stroke (from the bar after its start to its end bar).
struct Sketch {
    bool firstIsTop = false;
    std::vector<float> prices;
    std::vector<double> strokeHistogram;  // stroke k (ending at end k) reads [k - 1]
    std::vector<std::pair<int, double>> barHistogram = {};  // overrides, bar by bar
};

struct Built {
    std::vector<TurningPoint> ends;
    std::vector<double> histogram;
};

Built build(const Sketch& s) {
    Built b;
    for (std::size_t i = 0; i < s.prices.size(); ++i) {
        b.ends.push_back({static_cast<std::int32_t>(10 * (i + 1)), s.firstIsTop == (i % 2 == 0), s.prices[i]});
    }
    b.histogram.assign(10 * s.prices.size() + 1, 0.0);
    for (std::size_t k = 1; k < s.prices.size() && k - 1 < s.strokeHistogram.size(); ++k) {
        for (std::size_t bar = 10 * k + 1; bar <= 10 * (k + 1); ++bar) {
            b.histogram[bar] = s.strokeHistogram[k - 1];
        }
    }
    for (const auto& [bar, value] : s.barHistogram) b.histogram[static_cast<std::size_t>(bar)] = value;
    return b;
}

// Zones between the ends at bars 20 and 50: upper 11, lower 9.
PointPivot rising(float run) { return {{20, 50, 11.0f, 9.0f, 1.0f}, run}; }
PointPivot falling(float run) { return {{20, 50, 11.0f, 9.0f, -1.0f}, run}; }

struct Expected {
    std::int32_t bar;
    PointSide side;
    std::uint8_t classes;
    std::int32_t pivotStart = 20;  // of every class it has
    std::int32_t follows = -1;
};

constexpr std::uint8_t c1 = ClassBit(1), c2 = ClassBit(2), c3 = ClassBit(3);
constexpr PointSide buy = PointSide::Buy, sell = PointSide::Sell;

TradingPointOptions opts(int minRun = 2, double ratio = 1.0, ForceMeasure m = ForceMeasure::Area) {
    TradingPointOptions o;
    o.class1MinRun = minRun;
    o.divergenceRatio = ratio;
    o.force = m;
    return o;
}

struct Case {
    const char* name;
    Sketch sketch;
    std::vector<PointPivot> pivots;
    TradingPointOptions options;
    std::vector<Expected> expected;
};

// The first-class sketch: a falling zone entered by a down stroke to 8 with
// histogram -1 on its ten bars (area 10), left by a down stroke to 7 with
// -0.5 (area 5), then a pullback to 7.5.
const std::vector<float> kOne = {15, 8, 12, 9, 11, 7, 10, 7.5f, 12, 10.5f};
const std::vector<double> kWeaker = {-1, 0, 0, 0, -0.5};
const std::vector<double> kEqual = {-1, 0, 0, 0, -1};

const std::vector<Case> kCases = {
    // Third class, buy side: rising zone, leaving top 13, pullbacks.
    {"B3_pullback_above_upper", {false, {5, 12, 8, 11, 9, 13, 11.5f, 14}, {}}, {rising(1)}, opts(),
     {{70, buy, c3}}},
    {"B3_pullback_at_upper_is_none", {false, {5, 12, 8, 11, 9, 13, 11, 14}, {}}, {rising(1)}, opts(), {}},
    {"B3_pullback_into_zone_and_later_exits_do_not_count",
     {false, {5, 12, 8, 11, 9, 13, 10.5f, 14, 12, 15}, {}}, {rising(1)}, opts(), {}},
    {"B3_top_at_upper_does_not_leave", {false, {5, 12, 8, 11, 9, 11, 10, 13, 12, 14}, {}}, {rising(1)},
     opts(), {{90, buy, c3}}},
    // Third class, sell side: falling zone, leaving bottom 7.
    {"S3_pullback_below_lower", {true, {15, 8, 12, 9, 11, 7, 8.5f, 6}, {}}, {falling(1)}, opts(),
     {{70, sell, c3}}},
    {"S3_bottom_at_lower_does_not_leave", {true, {15, 8, 12, 9, 11, 9, 10, 7, 8, 6}, {}}, {falling(1)},
     opts(), {{90, sell, c3}}},
    {"S3_pullback_at_lower_is_none", {true, {15, 8, 12, 9, 11, 7, 9, 6}, {}}, {falling(1)}, opts(), {}},
    // First and second class, buy side.
    {"B1_weaker_leg_then_B2", {true, kOne, kWeaker}, {falling(2)}, opts(),
     {{60, buy, c1}, {80, buy, c2, 20, 60}}},
    {"B1_equal_force_is_no_divergence", {true, kOne, kEqual}, {falling(2)}, opts(), {}},
    {"B1_ratio_admits_equal_force", {true, kOne, kEqual}, {falling(2)}, opts(2, 1.5),
     {{60, buy, c1}, {80, buy, c2, 20, 60}}},
    {"B1_single_falling_pivot_is_no_trend", {true, kOne, kWeaker}, {falling(1)}, opts(), {}},
    {"B1_min_run_1_admits_single_pivot", {true, kOne, kWeaker}, {falling(1)}, opts(1),
     {{60, buy, c1}, {80, buy, c2, 20, 60}}},
    {"B1_needs_a_falling_pivot", {true, kOne, kWeaker}, {{{20, 50, 11, 9, 1}, 2}}, opts(), {}},
    {"B1_bottom_level_with_entering_bottom_does_not_leave",
     {true, {15, 8, 12, 9, 11, 8, 10, 7, 9.5f, 7.5f, 12}, {-1, 0, 0, 0, -2, 0, -0.5}}, {falling(2)},
     opts(), {{80, buy, c1}, {100, buy, c2, 20, 80}}},
    {"B2_pullback_level_with_B1_low_is_none", {true, {15, 8, 12, 9, 11, 7, 10, 7, 12, 10.5f}, kWeaker},
     {falling(2)}, opts(), {{60, buy, c1}}},
    {"B2_pullback_below_B1_low_is_none", {true, {15, 8, 12, 9, 11, 7, 10, 6.5f, 12, 10.5f}, kWeaker},
     {falling(2)}, opts(), {{60, buy, c1}}},
    {"B2_that_is_also_B3_is_one_point", {true, {15, 8, 12, 9, 11, 7, 13, 11.5f, 14}, kWeaker},
     {falling(2)}, opts(), {{60, buy, c1}, {80, buy, c2 | c3, 20, 60}}},
    // First and second class, sell side: rising zone entered by an up
    // stroke to 12 (area 10), left by one to 13 (area 5), pullback to 12.5.
    {"S1_weaker_leg_then_S2", {false, {5, 12, 8, 11, 9, 13, 10, 12.5f, 8.5f}, {1, 0, 0, 0, 0.5}},
     {rising(2)}, opts(), {{60, sell, c1}, {80, sell, c2, 20, 60}}},
    {"S2_pullback_above_S1_high_is_none", {false, {5, 12, 8, 11, 9, 13, 10, 13.5f, 8.5f}, {1, 0, 0, 0, 0.5}},
     {rising(2)}, opts(), {{60, sell, c1}}},
    {"S2_pullback_level_with_S1_high_is_none", {false, {5, 12, 8, 11, 9, 13, 10, 13, 8.5f}, {1, 0, 0, 0, 0.5}},
     {rising(2)}, opts(), {{60, sell, c1}}},
    {"S1_top_level_with_entering_top_does_not_leave",
     {false, {5, 12, 8, 11, 9, 12, 10, 13, 10.5f, 12.5f, 8}, {1, 0, 0, 0, 2, 0, 0.5}}, {rising(2)},
     opts(), {{80, sell, c1}, {100, sell, c2, 20, 80}}},
    // The measures: entering -1 on ten bars (area 10, peak 1); leaving one
    // bar at -2 (area 2, peak 2); by slope 7/10 against 4/10.
    {"area_sees_a_weaker_leg",
     {true, kOne, {-1, 0, 0, 0, 0}, {{55, -2.0}}}, {falling(2)}, opts(),
     {{60, buy, c1}, {80, buy, c2, 20, 60}}},
    {"peak_sees_a_sharper_leg", {true, kOne, {-1, 0, 0, 0, 0}, {{55, -2.0}}}, {falling(2)},
     opts(2, 1.0, ForceMeasure::Peak), {}},
    {"full_area_counts_bars_against_the_stroke",
     {true, kOne, {-1, 0, 0, 0, -0.5}, {{51, 6.0}}}, {falling(2)}, opts(2, 1.0, ForceMeasure::FullArea),
     {}},
    {"slope_compares_price_per_bar", {true, kOne, {}}, {falling(2)}, opts(2, 1.0, ForceMeasure::Slope),
     {{60, buy, c1}, {80, buy, c2, 20, 60}}},
    // Which strokes a pivot owns: those starting from its end up to the next
    // pivot's start, that start included.
    {"leaving_stroke_from_the_next_pivots_start_belongs",
     {false, {5, 12, 8, 11, 9, 10.5f, 9.5f, 13, 12}, {}}, {rising(1), {{70, 90, 30, 29, 1}, 2}}, opts(),
     {{90, buy, c3}}},
    {"leaving_stroke_after_the_next_pivots_start_does_not",
     {false, {5, 12, 8, 11, 9, 10.5f, 9.5f, 13, 12}, {}}, {rising(1), {{60, 90, 30, 29, 1}, 2}}, opts(), {}},
    {"last_pivot_owns_every_later_stroke", {false, {5, 12, 8, 11, 9, 10.5f, 9.5f, 13, 12}, {}},
     {rising(1)}, opts(), {{90, buy, c3}}},
};

class HandBuilt : public ::testing::TestWithParam<Case> {};

TEST_P(HandBuilt, Points) {
    const Case& c = GetParam();
    const Built b = build(c.sketch);
    const std::vector<TradingPoint> got = CalcTradingPoints({b.ends, c.pivots, b.histogram}, c.options);
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const TradingPoint& p = got[i];
        const Expected& e = c.expected[i];
        EXPECT_EQ(p.bar, e.bar);
        EXPECT_EQ(p.side, e.side);
        EXPECT_EQ(p.classes, e.classes) << "at bar " << p.bar;
        EXPECT_EQ(p.follows, e.follows);
        EXPECT_EQ(p.price, c.sketch.prices[static_cast<std::size_t>(p.bar / 10 - 1)]);
        for (int k = 1; k <= 3; ++k) {
            if (p.has(k)) {
                EXPECT_EQ(p.pivots[static_cast<std::size_t>(k - 1)].pivot.start, e.pivotStart);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, HandBuilt, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The recorded forces, ratio and pivot of a first-class point, by measure.
TEST(FirstClass, RecordsForcesAndPivot) {
    const Built b = build({true, kOne, kWeaker});
    const std::vector<PointPivot> pivots = {falling(2)};
    struct Row {
        ForceMeasure measure;
        double leaving, entering;
    };
    // Area and full area: 10 x 0.5 against 10 x 1; peak 0.5 against 1;
    // slope (11 - 7) / 10 against (15 - 8) / 10.
    for (const Row& r : {Row{ForceMeasure::Area, 5.0, 10.0}, Row{ForceMeasure::FullArea, 5.0, 10.0},
                         Row{ForceMeasure::Peak, 0.5, 1.0}, Row{ForceMeasure::Slope, 0.4, 0.7}}) {
        const auto got = CalcTradingPoints({b.ends, pivots, b.histogram}, opts(2, 1.0, r.measure));
        ASSERT_FALSE(got.empty()) << ForceMeasureName(r.measure);
        const TradingPoint& p = got.front();
        ASSERT_TRUE(p.has(1));
        EXPECT_DOUBLE_EQ(p.leavingForce, r.leaving) << ForceMeasureName(r.measure);
        EXPECT_DOUBLE_EQ(p.enteringForce, r.entering);
        EXPECT_DOUBLE_EQ(p.forceRatio, r.leaving / r.entering);
        EXPECT_EQ(p.pivots[0], pivots[0]);
        EXPECT_EQ(p.price, 7.0f);
    }
}

// One stroke's force over bars start+1 .. end: the start bar (-100 here)
// is outside, the end bar inside.
TEST(StrokeForce, EachMeasure) {
    const std::vector<TurningPoint> ends = {{10, true, 15.0f}, {14, false, 7.0f}, {16, true, 9.0f}};
    std::vector<double> h(17, 0.0);
    h[10] = -100.0;
    h[11] = -1.0;
    h[12] = 2.0;
    h[13] = -3.0;
    h[14] = -0.5;
    h[15] = 0.25;
    h[16] = -4.0;
    struct Row {
        ForceMeasure measure;
        double down, up;
    };
    for (const Row& r : {Row{ForceMeasure::Area, 4.5, 0.25}, Row{ForceMeasure::FullArea, 6.5, 4.25},
                         Row{ForceMeasure::Peak, 3.0, 0.25}, Row{ForceMeasure::Slope, 2.0, 1.0}}) {
        EXPECT_EQ(StrokeForce(ends, 1, h, r.measure), r.down) << ForceMeasureName(r.measure);
        EXPECT_EQ(StrokeForce(ends, 2, h, r.measure), r.up) << ForceMeasureName(r.measure);
    }
}

// The search from the last end back finds what a search from the front
// finds: every bar before, at, between and after ends of lists of every
// length about the steps it takes (1, 2, 4, ...).
TEST(FirstEndAtOrAfter, AsFromTheFront) {
    for (std::size_t n = 0; n <= 40; ++n) {
        std::vector<TurningPoint> ends;
        for (std::size_t k = 0; k < n; ++k) {
            ends.push_back({static_cast<std::int32_t>(3 * k + k % 2), k % 2 == 0, 1.0f});
        }
        const std::int64_t last = n == 0 ? 0 : ends.back().bar;
        for (std::int64_t bar = -2; bar <= last + 2; ++bar) {
            const auto front = std::lower_bound(ends.begin(), ends.end(), bar,
                                                [](const TurningPoint& p, std::int64_t b) { return p.bar < b; });
            EXPECT_EQ(FirstEndAtOrAfter(ends, bar), static_cast<std::size_t>(front - ends.begin()))
                << n << " ends, bar " << bar;
        }
    }
}

TEST(Options, NamesAndChecks) {
    for (const ForceMeasure m : {ForceMeasure::Area, ForceMeasure::FullArea, ForceMeasure::Peak, ForceMeasure::Slope}) {
        EXPECT_EQ(ParseForceMeasure(ForceMeasureName(m)), m);
    }
    EXPECT_EQ(ForceMeasureName(ForceMeasure::FullArea), "full-area");
    EXPECT_FALSE(ParseForceMeasure("Area").has_value());
    const Built b = build({false, {5, 12}, {}});
    const PointStructures s{b.ends, {}, b.histogram};
    for (TradingPointOptions bad : {opts(0), opts(2, 0.0), opts(2, -1.0),
                                    opts(2, std::numeric_limits<double>::infinity()),
                                    opts(2, std::numeric_limits<double>::quiet_NaN())}) {
        EXPECT_THROW(CalcTradingPoints(s, bad), std::invalid_argument);
    }
    TradingPointOptions badMacd;
    badMacd.macd.signal = 0;
    EXPECT_THROW(CalcTradingPoints(s, badMacd), std::invalid_argument);
    EXPECT_THROW(TradingPointStream{badMacd}, std::invalid_argument);
}

TEST(Structures, RefusedWhenNotStrokes) {
    const std::vector<double> h(100, 0.0);
    const std::vector<TurningPoint> sameKind = {{10, true, 5.0f}, {20, true, 6.0f}};
    const std::vector<TurningPoint> backwards = {{20, true, 5.0f}, {10, false, 4.0f}};
    const std::vector<TurningPoint> pastHistogram = {{10, true, 5.0f}, {100, false, 4.0f}};
    EXPECT_THROW(CalcTradingPoints({sameKind, {}, h}), std::invalid_argument);
    EXPECT_THROW(CalcTradingPoints({backwards, {}, h}), std::invalid_argument);
    EXPECT_THROW(CalcTradingPoints({pastHistogram, {}, h}), std::invalid_argument);
    EXPECT_TRUE(CalcTradingPoints({{}, {}, {}}).empty());
}

// Bars in straight legs of six between the turning prices below (high and
// low a quarter above and below the line): a falling zone, a second
// falling zone, a weaker last leg down and a rise out of it.
struct Zigzag {
    std::vector<float> high, low;
};
Zigzag zigzag() {
    const std::vector<float> turns = {26, 30, 20, 25, 21, 24, 15, 18, 16, 17.5f, 13, 19, 18.5f, 22};
    Zigzag z;
    for (std::size_t k = 0; k + 1 < turns.size(); ++k) {
        for (int j = k == 0 ? 0 : 1; j <= 6; ++j) {
            const float mid = turns[k] + (turns[k + 1] - turns[k]) * static_cast<float>(j) / 6.0f;
            z.high.push_back(mid + 0.25f);
            z.low.push_back(mid - 0.25f);
        }
    }
    return z;
}

// The structures from a stroke signal need one signal value, and one close
// or none, per bar.
TEST(Structures, OfASignalOfEveryBar) {
    const std::vector<float> high(6, 2.0f), low(6, 1.0f);
    for (const std::size_t n : {5u, 7u}) {
        EXPECT_THROW(StructuresOfSignal(std::vector<float>(n), high, low, {}), std::invalid_argument) << n;
        EXPECT_THROW(StructuresOfSignal(std::vector<float>(6), high, low, std::vector<float>(n)),
                     std::invalid_argument) << n;
    }
    EXPECT_NO_THROW(StructuresOfSignal(std::vector<float>(6), high, low, {}));
}

TEST(EndToEnd, ZigzagBars) {
    const Zigzag z = zigzag();
    const BarStructures s = StructuresOfBars(z.high, z.low, {}, {});
    // The strokes end at every sixth bar, the first at bar 6, a top.
    ASSERT_EQ(s.strokeEnds.size(), 13u);
    for (std::size_t i = 0; i < s.strokeEnds.size(); ++i) {
        EXPECT_EQ(s.strokeEnds[i].bar, static_cast<std::int32_t>(6 * (i + 1)));
        EXPECT_EQ(s.strokeEnds[i].isTop, i % 2 == 0);
    }
    // Tops 25.25, 24.25 and bottoms 19.75, 20.75 make the first zone [12, 30],
    // closed when the top at 18.25 stays under it; then 18.25, 17.75 over
    // 14.75, 15.75 the second, run 2, closed by the bottom at 18.25 above
    // 17.75 and cut back to end at the top before its lowest bottom.
    ASSERT_EQ(s.pivots.size(), 2u);
    EXPECT_EQ(s.pivots[0], (PointPivot{{12, 30, 24.25f, 20.75f, -1.0f}, 1.0f}));
    EXPECT_EQ(s.pivots[1], (PointPivot{{36, 54, 17.75f, 15.75f, -1.0f}, 2.0f}));

    const std::vector<TradingPoint> points = CalcTradingPoints(z.high, z.low, {}, {});
    ASSERT_EQ(points.size(), 3u);
    // S3 of the first zone: down to 14.75 below 20.75, back up only to 18.25.
    EXPECT_EQ(points[0].bar, 42);
    EXPECT_EQ(points[0].classes, c3);
    EXPECT_EQ(points[0].side, sell);
    EXPECT_EQ(points[0].pivots[2].pivot.start, 12);
    // B1 of the second zone: 17.75 to 12.75 (bars 55..60) against the
    // entering 24.25 to 14.75 (bars 31..36), by the area of the negative
    // histogram of the mid-prices: the document's values, to its digits
    // (NaN: not negative there).
    const std::vector<double>& h = s.histogram;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        int bar;
        double value;
    } histogram[] = {{31, nan},    {32, nan},    {33, -0.203}, {34, -0.585}, {35, -0.970}, {36, -1.334},
                     {55, nan},    {56, nan},    {57, nan},    {58, nan},    {59, -0.133}, {60, -0.330}};
    for (const auto& [bar, value] : histogram) {
        const double got = h[static_cast<std::size_t>(bar)];
        if (std::isnan(value)) {
            EXPECT_GE(got, 0.0) << "bar " << bar;
        } else {
            EXPECT_NEAR(got, value, 0.0005) << "bar " << bar;
        }
    }
    EXPECT_EQ(points[1].bar, 60);
    EXPECT_EQ(points[1].classes, c1);
    EXPECT_EQ(points[1].price, 12.75f);
    EXPECT_NEAR(points[1].leavingForce, 0.4637, 0.00005);
    EXPECT_NEAR(points[1].enteringForce, 3.0913, 0.00005);
    EXPECT_NEAR(points[1].forceRatio, 0.150, 0.0005);
    // The pullback to 18.25 is above 12.75 (B2) and above 17.75 after the
    // first top over the zone, 19.25 (B3).
    EXPECT_EQ(points[2].bar, 72);
    EXPECT_EQ(points[2].classes, c2 | c3);
    EXPECT_EQ(points[2].follows, 60);
    EXPECT_EQ(points[2].pivots[1].pivot.start, 36);
    EXPECT_EQ(points[2].pivots[2].pivot.start, 36);

    // Bar by bar: the same points at the last bar. The stroke ends through
    // bar 72 are final, the walk holds no pivot open after them (it went
    // back to bar 60 and has seen 60, 66, 72), so a later pivot can start at
    // bar 60 at the earliest, and the points up to the end after it, bar 66,
    // are final. The bottom at 72 showed as soon as bar 72 came, as the end
    // of the stroke in progress.
    StreamingEngine engine;
    TradingPointStream stream;
    for (std::size_t i = 0; i < z.high.size(); ++i) {
        engine.push(z.high[i], z.low[i]);
        stream.push(engine, MidPrice(z.high[i], z.low[i]));
    }
    EXPECT_EQ(stream.points(), points);
    EXPECT_EQ(stream.finalThrough(), 66);

    // The replay tells the points' lives as the document does: the S3 moves
    // with its leg (40, 41, 42) and is final at bar 53; the B1 appears at
    // bar 58 and moves with the falling leg (58, 59, 60), is withdrawn at
    // bar 64, appears again at bar 70 and is final at bar 77; the B2 and B3
    // moves with its leg (70, 71, 72) and is pending at the last bar. Within
    // a bar withdrawals come first, then appearances, then points become final.
    const std::pair<int, std::string> story[] = {
        {40, "S3 at bar 40 appeared"},    {41, "S3 at bar 40 withdrawn"},    {41, "S3 at bar 41 appeared"},
        {42, "S3 at bar 41 withdrawn"},   {42, "S3 at bar 42 appeared"},     {53, "S3 at bar 42 confirmed"},
        {58, "B1 at bar 58 appeared"},    {59, "B1 at bar 58 withdrawn"},    {59, "B1 at bar 59 appeared"},
        {60, "B1 at bar 59 withdrawn"},   {60, "B1 at bar 60 appeared"},     {64, "B1 at bar 60 withdrawn"},
        {70, "B1 at bar 60 appeared"},    {70, "B2+B3 at bar 70 appeared"},  {71, "B2+B3 at bar 70 withdrawn"},
        {71, "B2+B3 at bar 71 appeared"}, {72, "B2+B3 at bar 71 withdrawn"}, {72, "B2+B3 at bar 72 appeared"},
        {77, "B1 at bar 60 confirmed"}};
    const PointReplayLog log = ReplayWithPoints(z.high, z.low, {});
    ASSERT_EQ(log.pointEvents.size(), std::size(story));
    for (std::size_t k = 0; k < std::size(story); ++k) {
        const PointReplayEvent& e = log.pointEvents[k];
        const std::string text = describe(e);
        EXPECT_EQ(e.bar, story[k].first) << text;
        EXPECT_EQ(text.substr(0, text.find(" (")), "trading point " + story[k].second);
        // The high at a top, the low at a bottom.
        const auto at = static_cast<std::size_t>(e.point.point.bar);
        EXPECT_EQ(e.point.point.price, e.point.point.side == sell ? z.high[at] : z.low[at]) << text;
    }
    // The as-of point columns (side, classes, bar, price, final): once the B1
    // is withdrawn the latest point is the final S3; at the last bar, the
    // pending B2 and B3.
    const auto pointRow = [&log](std::size_t bar) {
        std::vector<double> v(PointAsOfColumns().size());
        PointAsOfValues(log.points[bar], v);
        return v;
    };
    EXPECT_EQ(pointRow(65), (std::vector<double>{-1, 3, 42, 18.25, 1}));
    EXPECT_EQ(pointRow(78), (std::vector<double>{1, 23, 72, 18.25, 0}));
    // The B1's confirmation as an event row: bar, at_bar, from_bar, direction
    // (-1 at a bottom), price, its pivot's start, end, upper and lower, then
    // side, classes, follows.
    std::vector<double> row(EventColumns().size() + PointEventColumns().size());
    PointEventValues(log.pointEvents.back(), row);
    const double want[] = {77, 60, nan, -1, 12.75, 36, 54, 17.75, 15.75, 1, 1, nan};
    for (std::size_t c = 0; c < std::size(want); ++c) {
        EXPECT_TRUE(std::isnan(want[c]) ? std::isnan(row[c]) : row[c] == want[c]) << "column " << c;
    }
}

// The pivot under way joins the list, its run count counted as if it were
// listed.
TEST(PointPivots, UnderWayCountedAsAppended) {
    const std::vector<Pivot> listed = {{10, 20, 5, 4, -1}, {25, 40, 3, 2, -1}};
    const std::vector<float> counts = {1, 2};
    const auto down = PointPivots(listed, counts, Pivot{45, 60, 2, 1, -1});
    ASSERT_EQ(down.size(), 3u);
    EXPECT_EQ(down[2].runCount, 3.0f);
    EXPECT_EQ(PointPivots(listed, counts, Pivot{45, 60, 2, 1, 1})[2].runCount, 1.0f);
    EXPECT_EQ(PointPivots(listed, counts, std::nullopt).size(), 2u);
    EXPECT_EQ(PointPivots({}, {}, Pivot{45, 60, 2, 1, 1})[0].runCount, 1.0f);
}

}  // namespace
}  // namespace vlm
