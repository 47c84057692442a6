#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "pivot/pivot_tracker.h"
#include "pivot/pivot_walk.h"
#include "stroke/bi_signal.h"
#include "support/series_gen.h"

namespace vlm {

void PrintTo(const Pivot& p, std::ostream* os) {
    *os << "{" << p.start << ", " << p.end << ", " << p.upper << ", " << p.lower << ", "
        << p.trend << "}";
}

void PrintTo(const PivotClose& c, std::ostream* os) {
    PrintTo(c.pivot, os);
    *os << (c.retained ? " kept" : " dropped");
}

namespace {

// Turning points written as bar and price: positive bar a top, and the
// series around them zero.
struct Point {
    int bar;
    bool top;
    float price;
};
Point T(int bar, float price) { return {bar, true, price}; }
Point B(int bar, float price) { return {bar, false, price}; }

struct Signal {
    std::vector<float> bi, high, low;
};

Signal signalOf(int count, const std::vector<Point>& points) {
    Signal s{std::vector<float>(count), std::vector<float>(count), std::vector<float>(count)};
    for (const Point& p : points) {
        s.bi[p.bar] = p.top ? 1.0f : -1.0f;
        (p.top ? s.high : s.low)[p.bar] = p.price;
    }
    return s;
}

struct ListCase {
    const char* name;
    int count;
    std::vector<Point> points;
    std::vector<Pivot> closed;
    std::vector<Pivot> withOpen;  // the list when the pivot under way is shown
};

class PivotListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(PivotListTest, List) {
    const ListCase& c = GetParam();
    const Signal s = signalOf(c.count, c.points);
    EXPECT_EQ(CalcPivotList(s.bi, s.high, s.low), c.closed);
    EXPECT_EQ(CalcPivotList(s.bi, s.high, s.low, {.includeOpenPivot = true}), c.withOpen);
}

const std::vector<Point> kFallingPivot = {T(1, 20), B(2, 10), T(3, 18), B(4, 12), T(5, 16)};

std::vector<Point> fallingThen(std::vector<Point> more) {
    std::vector<Point> all = kFallingPivot;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PivotListTest,
    ::testing::Values(
        ListCase{"NoTurningPoints", 10, {}, {}, {}},
        ListCase{"FourTurningPoints", 10, {T(1, 20), B(2, 10), T(3, 18), B(4, 12)}, {}, {}},
        ListCase{"OpenPivotShownOnlyOnRequest", 6, kFallingPivot, {}, {{2, 5, 16, 12, -1}}},
        ListCase{"RisingCutBack", 50,
                 {B(10, 5), T(15, 12), B(20, 7), T(25, 11), B(30, 8), T(35, 13), B(40, 9),
                  T(45, 7.5f)},
                 {{15, 30, 11, 8, 1}},
                 {{15, 30, 11, 8, 1}}},
        ListCase{"FallingClosedBelowKeptWhole", 10,
                 fallingThen({B(6, 13), T(7, 15), B(8, 5), T(9, 9)}),
                 {{2, 7, 16, 12, -1}},
                 {{2, 7, 16, 12, -1}}},
        ListCase{"TopAtLowerDoesNotClose", 10,
                 fallingThen({B(6, 13), T(7, 15), B(8, 5), T(9, 12)}),
                 {},
                 {{2, 8, 16, 12, -1}}},
        ListCase{"EqualTopsFormNothing", 6,
                 {T(1, 18), B(2, 10), T(3, 18), B(4, 12), T(5, 16)}, {}, {}},
        ListCase{"TouchingBandFormsNothing", 6,
                 {T(1, 20), B(2, 10), T(3, 18), B(4, 16), T(5, 16)}, {}, {}},
        ListCase{"TurningPointAtBarZeroTakesNoPart", 6,
                 {T(0, 20), B(1, 10), T(2, 18), B(3, 12), T(4, 16)}, {}, {}},
        ListCase{"ClosedAgainstTrendEarlyExtremeDropped", 8, fallingThen({B(6, 17)}), {}, {}},
        ListCase{"ClosedAgainstTrendCutToTopBeforeLowest", 10,
                 fallingThen({B(6, 9), T(7, 14), B(8, 17)}),
                 {{2, 5, 16, 12, -1}},
                 {{2, 5, 16, 12, -1}}},
        ListCase{"EqualLowestBottomsLaterDecides", 12,
                 fallingThen({B(6, 10), T(7, 14), B(8, 10), T(9, 15), B(10, 17)}),
                 {{2, 7, 16, 12, -1}},
                 {{2, 7, 16, 12, -1}}},
        // A bottom exactly at upper keeps the rising pivot open (a close
        // there would end it at bar 40); the top at bar 55 closes it.
        ListCase{"BottomAtUpperDoesNotClose", 60,
                 {B(10, 5), T(15, 12), B(20, 7), T(25, 11), B(30, 8), T(35, 13), B(40, 9),
                  T(45, 12), B(50, 11), T(55, 7.5f)},
                 {{15, 30, 11, 8, 1}},
                 {{15, 30, 11, 8, 1}}},
        ListCase{"RisingClosedAboveKeptWhole", 55,
                 {B(10, 5), T(15, 12), B(20, 7), T(25, 11), B(30, 8), T(35, 13), B(40, 9),
                  T(45, 14), B(50, 12)},
                 {{15, 40, 11, 8, 1}},
                 {{15, 40, 11, 8, 1}}},
        // While open, a bottom raises end to the latest top.
        ListCase{"OpenPivotEndsAtLatestTop", 9, fallingThen({B(6, 13), T(7, 15), B(8, 14)}), {},
                 {{2, 7, 16, 12, -1}}},
        ListCase{"EqualBottomsFormNothing", 6,
                 {B(1, 7), T(2, 12), B(3, 7), T(4, 11), B(5, 8)}, {}, {}},
        ListCase{"RisingTouchingBandFormsNothing", 6,
                 {B(1, 5), T(2, 12), B(3, 7), T(4, 11), B(5, 11)}, {}, {}},
        ListCase{"RisingFromBarZeroFormsNothing", 5,
                 {B(0, 5), T(1, 12), B(2, 7), T(3, 11), B(4, 8)}, {}, {}},
        // Turning points that do not alternate, so that bar 0 lands in the
        // newer slot a forming test reads.
        ListCase{"BottomAtBarZeroTakesNoPart", 5,
                 {B(0, 5), T(1, 20), T(2, 18), B(3, 10), T(4, 16)}, {}, {}},
        ListCase{"TopAtBarZeroTakesNoPart", 5,
                 {T(0, 20), B(1, 5), B(2, 7), T(3, 12), B(4, 8)}, {}, {}},
        // The band: the lower of the two latest highs, the higher of the two latest lows.
        ListCase{"FallingBandFromOlderBottom", 6,
                 {T(1, 20), B(2, 12), T(3, 18), B(4, 10), T(5, 16)}, {}, {{2, 5, 16, 12, -1}}},
        ListCase{"FallingBandFromOlderTop", 6,
                 {T(1, 20), B(2, 10), T(3, 16), B(4, 12), T(5, 18)}, {}, {{2, 5, 16, 12, -1}}},
        ListCase{"RisingBandFromOlderBottom", 6,
                 {B(1, 5), T(2, 12), B(3, 8), T(4, 11), B(5, 7)}, {}, {{2, 5, 11, 8, 1}}},
        ListCase{"RisingBandFromOlderTop", 6,
                 {B(1, 5), T(2, 11), B(3, 7), T(4, 12), B(5, 8)}, {}, {{2, 5, 11, 8, 1}}},
        // The lowest bottom is only the second: dropped, the walk resumes there.
        ListCase{"SecondBottomLowestDropped", 7,
                 {T(1, 20), B(2, 12), T(3, 18), B(4, 10), T(5, 16), B(6, 17)}, {}, {}},
        // Tops 12, 11, 12: the later equal top is the highest, the third, so
        // the pivot is kept, cut at bar 30, and the walk resumes at bar 35
        // (from bar 15 it would form a falling pivot).
        ListCase{"EqualHighestTopsLaterDecides", 50,
                 {B(10, 5), T(15, 12), B(20, 7), T(25, 11), B(30, 8), T(35, 12), B(40, 9),
                  T(45, 7.5f)},
                 {{15, 30, 11, 8, 1}},
                 {{15, 30, 11, 8, 1}}},
        // Tops 12, 10, 11: the first is the highest, so the pivot is
        // dropped and the walk resumes at bar 15, where the same bars form a
        // falling pivot that a top below its band closes and keeps.
        ListCase{"FirstTopHighestDroppedThenFalling", 50,
                 {B(10, 5), T(15, 12), B(20, 7), T(25, 10), B(30, 8), T(35, 11), B(40, 9),
                  T(45, 7.5f)},
                 {{20, 35, 10, 8, -1}},
                 {{20, 35, 10, 8, -1}}},
        // After the cut the walk resumes at the highest top (bar 35), not at
        // the cut (bar 30): from bar 30 the bottoms 8 < 8.5 would form a
        // rising pivot at bar 50. From bar 35 a falling pivot forms at bar
        // 55 and is dropped, its lowest bottom being its first.
        ListCase{"ResumeAtHighestTopNotAtCut", 61,
                 {B(10, 5), T(15, 12), B(20, 9), T(25, 11), B(30, 8), T(35, 13), B(40, 8.5f),
                  T(45, 8.8f), B(50, 8.6f), T(55, 9.5f), B(60, 9)},
                 {{15, 30, 11, 9, 1}},
                 {{15, 30, 11, 9, 1}}},
        // The same, but the falling pivot from bar 35 is closed by a top and
        // kept: the resume bar's own top takes part in the next pivot.
        ListCase{"ResumedBarsFormTheNextPivot", 66,
                 {B(10, 5), T(15, 12), B(20, 9), T(25, 11), B(30, 8), T(35, 13), B(40, 8.5f),
                  T(45, 8.8f), B(50, 8.6f), T(55, 9.5f), B(60, 8.7f), T(65, 8)},
                 {{15, 30, 11, 9, 1}, {40, 55, 8.8f, 8.6f, -1}},
                 {{15, 30, 11, 9, 1}, {40, 55, 8.8f, 8.6f, -1}}},
        // Tops and bottoms that do not alternate. The falling pivot of bars
        // 6 to 11 is dropped (its lowest bottom is its first) and the walk
        // resumes at that bottom, bar 6; from any earlier bar the top at
        // bar 3 would join the bottoms 6, 9 and 11 in a rising pivot.
        ListCase{"DroppedPivotResumesAtItsLowestBottom", 16,
                 {T(1, 6), T(3, 4), B(6, 1), B(9, 2), T(10, 6), B(11, 3), B(15, 5)}, {}, {}},
        // Tops and bottoms that do not alternate: the walk would return to
        // bar 6 with the same fresh state for ever; it steps past it.
        ListCase{"NonAlternatingWalkTerminates", 12,
                 {T(1, 100), B(2, 50), T(3, 80), B(4, 55), T(5, 75), T(6, 70), T(7, 40),
                  B(8, 10), B(9, 20), B(10, 30), T(11, 25)},
                 {{2, 6, 75, 55, -1}},
                 {{2, 6, 75, 55, -1}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Only exact 1.0 and -1.0 are turning points: the odd values after the
// falling pivot, at prices that would close it, leave it open.
TEST(PivotList, OddSignalValuesAreNoTurningPoints) {
    Signal s = signalOf(10, kFallingPivot);
    const float odd[] = {0.5f, -0.5f, 2.0f, -2.0f, 1.0000001f, -0.9999999f,
                         std::numeric_limits<float>::quiet_NaN()};
    for (int k = 0; k < 7; ++k) {
        const std::size_t bar = 6 + static_cast<std::size_t>(k % 4);
        s.bi[bar] = odd[k];
        s.high[bar] = 1.0f;   // below lower 12
        s.low[bar] = 30.0f;   // above upper 16
        EXPECT_EQ(CalcPivotList(s.bi, s.high, s.low, {.includeOpenPivot = true}),
                  (ZhongShuList{{2, 5, 16, 12, -1}}))
            << "value " << odd[k];
        s.bi[bar] = 0.0f;
    }
}

// Every close, kept or dropped, as the walk reports it: a dropped pivot
// keeps the end its tracker gave it.
TEST(PivotWalk, ReportsEveryClose) {
    struct Case {
        const char* name;
        int count;
        std::vector<Point> points;
        std::vector<PivotClose> closes;
    };
    const Case cases[] = {
        {"RisingCutBack", 50,
         {B(10, 5), T(15, 12), B(20, 7), T(25, 11), B(30, 8), T(35, 13), B(40, 9), T(45, 7.5f)},
         {{{15, 30, 11, 8, 1}, true}}},
        {"SecondBottomLowestDropped", 7,
         {T(1, 20), B(2, 12), T(3, 18), B(4, 10), T(5, 16), B(6, 17)},
         {{{2, 5, 16, 12, -1}, false}}},
        {"FirstTopHighestDroppedThenFalling", 50,
         {B(10, 5), T(15, 12), B(20, 7), T(25, 10), B(30, 8), T(35, 11), B(40, 9), T(45, 7.5f)},
         {{{15, 35, 10, 8, 1}, false}, {{20, 35, 10, 8, -1}, true}}},
    };
    for (const Case& c : cases) {
        const Signal s = signalOf(c.count, c.points);
        ZhongShuList list;
        std::vector<PivotClose> closes;
        PivotWalk walk;
        walk.advance(turningPoints(s.bi, s.high, s.low), list, &closes);
        EXPECT_EQ(closes, c.closes) << c.name;
    }
}

// Walking the turning points in two calls, the second with more points,
// gives the list and the closes of one walk over them all.
TEST(PivotWalk, ResumesWhereItStopped) {
    for (std::uint32_t seed = 1; seed <= 10; ++seed) {
        const testing::Bars bars = testing::makeBars(testing::Shape::QuantisedWalk, 1500, seed);
        const std::vector<float> bi = CalcBiSignal(bars.high, bars.low);
        const std::vector<TurningPoint> points = turningPoints(bi, bars.high, bars.low);
        ZhongShuList once;
        std::vector<PivotClose> onceCloses;
        PivotWalk().advance(points, once, &onceCloses);
        for (std::size_t cut : {points.size() / 3, points.size() / 2}) {
            ZhongShuList twice;
            std::vector<PivotClose> twiceCloses;
            PivotWalk walk;
            walk.advance(std::span(points).first(cut), twice, &twiceCloses);
            walk.advance(points, twice, &twiceCloses);
            EXPECT_EQ(twice, once) << "seed " << seed << " cut " << cut;
            EXPECT_EQ(twiceCloses, onceCloses) << "seed " << seed << " cut " << cut;
        }
        EXPECT_FALSE(once.empty());
    }
}

TEST(PivotTracker, WorkedExampleStepByStep) {
    PivotTracker t;
    EXPECT_FALSE(t.AddBottom(10, 5));
    EXPECT_FALSE(t.AddTop(15, 12));
    EXPECT_FALSE(t.AddBottom(20, 7));
    EXPECT_FALSE(t.AddTop(25, 11));
    EXPECT_FALSE(t.AddBottom(30, 8));
    ASSERT_EQ(t.isOpen, 1);
    EXPECT_EQ(t.start, 15);
    EXPECT_EQ(t.end, 30);
    EXPECT_EQ(t.upper, 11);
    EXPECT_EQ(t.lower, 8);
    EXPECT_EQ(t.trend, 1);
    EXPECT_FALSE(t.AddTop(35, 13));
    EXPECT_EQ(t.end, 30);
    EXPECT_FALSE(t.AddBottom(40, 9));
    EXPECT_EQ(t.end, 35);
    EXPECT_TRUE(t.AddTop(45, 7.5f));
    EXPECT_EQ(t.end, 35);
    EXPECT_EQ(t.exitDirection, -1);
    t.Reset();
    EXPECT_EQ(t.isOpen, 0);
    EXPECT_EQ(t.topBar[0], 0);
    EXPECT_EQ(t.upper, 0.0f);
}

// The newer slot wins unless the older one is strictly beyond it: with
// +0.0 and -0.0 as the two highs the band's upper bound is the newer zero.
TEST(PivotTracker, BandKeepsNewerSlotOnTies) {
    PivotTracker t;
    t.AddTop(1, 5);
    t.AddBottom(2, -3);
    t.AddTop(3, -0.0f);
    t.AddBottom(4, -2);
    t.AddTop(5, 0.0f);
    ASSERT_EQ(t.isOpen, 1);
    EXPECT_FALSE(std::signbit(t.upper));
    PivotTracker u;
    u.AddTop(1, 5);
    u.AddBottom(2, -3);
    u.AddTop(3, 0.0f);
    u.AddBottom(4, -2);
    u.AddTop(5, -0.0f);
    ASSERT_EQ(u.isOpen, 1);
    EXPECT_TRUE(std::signbit(u.upper));
}

void expectListInvariants(const ZhongShuList& list, int count, bool alternating,
                          const std::string& where) {
    for (std::size_t p = 0; p < list.size(); ++p) {
        const Pivot& z = list[p];
        EXPECT_GT(z.start, 0) << where;
        EXPECT_LE(z.start + 2, z.end) << where;
        EXPECT_LT(z.end, count) << where;
        EXPECT_LT(z.lower, z.upper) << where;
        EXPECT_TRUE(z.trend == 1.0f || z.trend == -1.0f) << where;
        if (alternating) {
            EXPECT_GE(z.end - z.start, 3) << where;
        }
        if (p == 0) continue;
        if (alternating) {
            EXPECT_GT(z.start, list[p - 1].end) << where;
        } else {
            EXPECT_GE(z.start, list[p - 1].end) << where;
        }
    }
}

TEST(PivotProperties, OnStrokeSignals) {
    std::size_t pivots = 0;
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 2000, seed);
            const std::vector<float> bi = CalcBiSignal(bars.high, bars.low);
            for (bool open : {false, true}) {
                const ZhongShuList list = CalcPivotList(bi, bars.high, bars.low, {open});
                pivots += list.size();
                expectListInvariants(list, 2000, true,
                                     std::string(testing::shapeName(shape)) + std::to_string(seed));
            }
        }
    }
    EXPECT_GT(pivots, 100u);
}

TEST(PivotProperties, OnArbitrarySignalsTheWalkEndsAndStaysInBounds) {
    std::size_t pivots = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        const int count = 5 + static_cast<int>(seed % 200);
        const testing::Shape shape = seed % 2 ? testing::Shape::TinyValueSet : testing::Shape::WithNaN;
        const testing::Bars bars = testing::makeBars(shape, static_cast<std::size_t>(count), seed);
        const std::vector<float> signal = testing::makeArbitrarySignal(static_cast<std::size_t>(count), seed);
        for (bool open : {false, true}) {
            const ZhongShuList list = CalcPivotList(signal, bars.high, bars.low, {open});
            pivots += list.size();
            expectListInvariants(list, count, false, "seed " + std::to_string(seed));
        }
    }
    EXPECT_GT(pivots, 20u);
}

struct OutputCase {
    const char* name;
    PivotOutput what;
    std::vector<float> expected;
};

class PivotOutputTest : public ::testing::TestWithParam<OutputCase> {};

// Trends -1, -1, +1, +1, +1 over bars 1-4, 4-7, 8-11, 12-15, 15-18.
const ZhongShuList kFive = {{1, 4, 10, 8, -1}, {4, 7, 9, 7, -1}, {8, 11, 12, 11, 1},
                            {12, 15, 13, 12, 1}, {15, 18, 14, 13, 1}};

TEST_P(PivotOutputTest, Bars) {
    std::vector<float> out(20, 99.0f);
    WritePivotOutput(kFive, GetParam().what, out);
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FivePivots, PivotOutputTest,
    ::testing::Values(
        OutputCase{"Upper", PivotOutput::Upper,
                   {0, 0, 10, 10, 0, 9, 9, 0, 0, 12, 12, 0, 0, 13, 13, 0, 14, 14, 0, 0}},
        OutputCase{"Lower", PivotOutput::Lower,
                   {0, 0, 8, 8, 0, 7, 7, 0, 0, 11, 11, 0, 0, 12, 12, 0, 13, 13, 0, 0}},
        OutputCase{"EndMarks", PivotOutput::EndMarks,
                   {0, 0, 1, 2, 0, 1, 2, 0, 0, 1, 2, 0, 0, 1, 2, 0, 1, 2, 0, 0}},
        OutputCase{"Trend", PivotOutput::Trend,
                   {0, 0, -1, -1, 0, -1, -1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0}},
        OutputCase{"RunCount", PivotOutput::RunCount,
                   {0, 0, 1, 1, 0, 2, 2, 0, 0, 1, 1, 0, 0, 2, 2, 0, 3, 3, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PivotOutputs, RunCountsPerPivot) {
    EXPECT_EQ(PivotRunCounts(kFive), (std::vector<float>{1, 2, 1, 2, 3}));
    EXPECT_EQ(PivotRunCounts({}), std::vector<float>{});
}

TEST(PivotOutputs, NarrowestPivotKeepsTheLaterMark) {
    std::vector<float> out(6, 5.0f);
    WritePivotOutput({{2, 4, 3, 1, 1}}, PivotOutput::EndMarks, out);
    EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 2, 0, 0}));
}

TEST(PivotOutputs, NoPivotLeavesZeros) {
    for (PivotOutput what : {PivotOutput::Upper, PivotOutput::Lower, PivotOutput::EndMarks,
                             PivotOutput::Trend, PivotOutput::RunCount}) {
        std::vector<float> out(4, 7.0f);
        WritePivotOutput({}, what, out);
        EXPECT_EQ(out, std::vector<float>(4, 0.0f));
    }
}

}  // namespace
}  // namespace vlm
