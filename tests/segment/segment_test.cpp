#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pivot/pivot_walk.h"
#include "segment/segment_signal.h"
#include "stroke/bi_signal.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

struct SegmentCase {
    std::string name;
    std::vector<float> bi, high, low;
    std::vector<float> withPullback;  // function 3
    std::vector<float> noPullback;    // function 4
};

class SegmentTest : public ::testing::TestWithParam<SegmentCase> {};

void expectBothVariants(const SegmentCase& c) {
    EXPECT_EQ(CalcSegmentSignal(c.bi, c.high, c.low), c.withPullback) << "function 3";
    EXPECT_EQ(CalcSegmentSignalNoPullback(c.bi, c.high, c.low), c.noPullback) << "function 4";
}

// Turned upside down about a price above every price of the case: tops
// become bottoms, highs become lows, and every mark changes sign. Only
// cases whose prices all lie strictly between 0 and that price are
// turned, since rule 2 and the unset pullback treat 0.0 apart.
constexpr float kMirrorAbout = 100.0f;

bool mirrorable(const SegmentCase& c) {
    const auto inside = [](const std::vector<float>& v) {
        return std::all_of(v.begin(), v.end(), [](float x) { return x > 0.0f && x < kMirrorAbout; });
    };
    return inside(c.high) && inside(c.low);
}

SegmentCase mirrored(const SegmentCase& c) {
    const auto negate = [](std::vector<float> v) {
        for (float& x : v) x = x == 0.0f ? 0.0f : -x;
        return v;
    };
    const auto reflect = [](std::vector<float> v) {
        for (float& x : v) x = kMirrorAbout - x;
        return v;
    };
    return {c.name, negate(c.bi), reflect(c.low), reflect(c.high),
            negate(c.withPullback), negate(c.noPullback)};
}

std::vector<SegmentCase> mirroredCases(const std::vector<SegmentCase>& cases) {
    std::vector<SegmentCase> out;
    for (const SegmentCase& c : cases) {
        if (mirrorable(c)) out.push_back(mirrored(c));
    }
    return out;
}

TEST_P(SegmentTest, BothVariants) { expectBothVariants(GetParam()); }

const std::vector<SegmentCase> kCases = {
    SegmentCase{"NoBars", {}, {}, {}, {}, {}},
    SegmentCase{"NoStrokeEnds", {0, 0.5f, 2, -0.0f}, {1, 2, 3, 4}, {0, 1, 2, 3},
                {0, 0, 0, 0}, {0, 0, 0, 0}},
    SegmentCase{"SingleStrokeEnd", {0, 0, -1, 0}, {5, 5, 5, 5}, {1, 1, 1, 1},
                {0, 0, -1, 0}, {0, 0, -1, 0}},
    // Rule 1 measures against the low of bar 0 while no bottom is marked.
    SegmentCase{"StartBrokenAgainstBarZero", {0, 1, -1, 0}, {10, 12, 11, 11},
                {9, 10, 8.5f, 9}, {0, 1, -1, 0}, {0, 1, -1, 0}},
    SegmentCase{"StartHeldAgainstBarZero", {0, 1, -1, 0}, {10, 12, 11, 11},
                {8, 10, 8.5f, 9}, {0, 1, 0, 0}, {0, 1, 0, 0}},
    SegmentCase{"EqualHighDoesNotMove", {1, -1, 1}, {10, 8, 10}, {6, 7, 8}, {1, 0, 0},
                {1, 0, 0}},
    SegmentCase{"MoveClearsOldMarkThenRule2", {-1, 1, -1, 1, -1, 1, -1},
                {10, 14, 12, 16, 14, 15, 13}, {8, 11, 10, 13, 12, 12, 11},
                {-1, 0, 0, 1, 0, 0, -1}, {-1, 0, 0, 1, 0, 0, -1}},
    SegmentCase{"Rule3Alone", {-1, 1, -1, 1, -1, 1, -1, 0},
                {11, 20, 16, 18, 17, 19, 17, 17}, {10, 15, 14, 15, 15, 16, 13, 13},
                {-1, 1, 0, 0, 0, 0, -1, 0}, {-1, 1, 0, 0, 0, 0, 0, 0}},
    // A bottom at exactly 0.0 cannot set the pullback; the next one does,
    // and the one after breaks it.
    SegmentCase{"ZeroLowLeavesPullbackUnset", {-1, 1, -1, 1, -1, 1, -1},
                {1, 10, 9, 10, 9, 10, 9}, {-5, 5, 0, 5, 4, 5, 3},
                {-1, 1, 0, 0, 0, 0, -1}, {-1, 1, 0, 0, 0, 0, 0}},
    // Mirror of rule 3 in a down segment.
    SegmentCase{"Rule3Mirror", {1, -1, 1, -1, 1, -1, 1, 0},
                {30, 25, 26, 25, 25, 24, 27, 27}, {29, 20, 24, 22, 23, 21, 23, 23},
                {1, -1, 0, 0, 0, 0, 1, 0}, {1, -1, 0, 0, 0, 0, 0, 0}},
    // A bottom at the low of the bottom mark does not break the start.
    SegmentCase{"Rule1EqualLowHolds", {-1, 1, -1}, {2, 10, 6}, {5, 7, 5}, {-1, 1, 0},
                {-1, 1, 0}},
    // Once a bottom is marked, rule 1 measures against it, not bar 0:
    // bar 3's low 3 is above the marked 2 (though below bar 0's 5), bar 5's 1.5 is not.
    SegmentCase{"Rule1AgainstLatestBottomMark", {1, -1, 1, -1, 1, -1}, {10, 4, 11, 6, 10.5f, 5},
                {5, 2, 9, 3, 9, 1.5f}, {1, -1, 1, 0, 0, -1}, {1, -1, 1, 0, 0, -1}},
    // Rule 2 wants both the top and the bottom strictly lower.
    SegmentCase{"Rule2LowerTopLowerBottom", {-1, 1, -1, 1, -1, 1, -1},
                {2, 10, 8, 9, 8, 8.5f, 8}, {1, 6, 5, 6, 7, 6, 6},
                {-1, 1, 0, 0, 0, 0, -1}, {-1, 1, 0, 0, 0, 0, -1}},
    SegmentCase{"Rule2NeedsStrictlyLowerTop", {-1, 1, -1, 1, -1, 1, -1},
                {2, 10, 8, 9, 8, 9, 8}, {1, 6, 5, 6, 7, 6, 6},
                {-1, 1, 0, 0, 0, 0, 0}, {-1, 1, 0, 0, 0, 0, 0}},
    SegmentCase{"Rule2NeedsStrictlyLowerBottom", {-1, 1, -1, 1, -1, 1, -1},
                {2, 10, 8, 9, 8, 8.5f, 8}, {1, 6, 5, 6, 7, 6, 7},
                {-1, 1, 0, 0, 0, 0, 0}, {-1, 1, 0, 0, 0, 0, 0}},
    // Rule 2 is off while a stroke extreme is unset or not above 0.0:
    // one top seen, one bottom seen, a top at 0.0, a bottom at 0.0.
    SegmentCase{"Rule2OffWithOneTop", {-1, -1, 1}, {20, 19, 15}, {5, 6, 14}, {-1, 0, 0},
                {-1, 0, 0}},
    SegmentCase{"Rule2OffWithOneBottom", {1, 1, -1, 1}, {12, 8, 9, 10}, {4, 7, 3, 9},
                {1, 0, -1, 0}, {1, 0, -1, 0}},
    SegmentCase{"Rule2OffWithZeroTop", {1, -1, 1, -1}, {10, 6, 0, 5}, {1, 5, -1, 4},
                {1, 0, 0, -1}, {1, 0, 0, 0}},
    SegmentCase{"Rule2OffWithZeroBottom", {-1, 1, -1, 1, -1}, {1, 10, 9, 8, 2},
                {-5, 2, 3, 7, 0}, {-1, 1, 0, 0, -1}, {-1, 1, 0, 0, 0}},
    // Bar 6's low equals the pullback low 14: no reversal.
    SegmentCase{"Rule3NeedsStrictlyLower", {-1, 1, -1, 1, -1, 1, -1, 0},
                {11, 20, 16, 18, 17, 19, 17, 17}, {10, 15, 14, 15, 15, 16, 14, 13},
                {-1, 1, 0, 0, 0, 0, 0, 0}, {-1, 1, 0, 0, 0, 0, 0, 0}},
    // The top moves at bar 3 and the pullback starts again: bar 4 sets
    // it to 6 (the old 5 is gone), and bar 6 breaks it with 5.5.
    SegmentCase{"MoveStartsNewPullback", {-1, 1, -1, 1, -1, 1, -1},
                {2, 10, 8, 12, 9, 12, 9}, {1, 7, 5, 8, 6, 8, 5.5f},
                {-1, 0, 0, 1, 0, 0, -1}, {-1, 0, 0, 1, 0, 0, 0}}};

const auto kCaseName = [](const auto& info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Examples, SegmentTest, ::testing::ValuesIn(kCases), kCaseName);
INSTANTIATE_TEST_SUITE_P(Mirrored, SegmentTest, ::testing::ValuesIn(mirroredCases(kCases)),
                         kCaseName);

bool marksAlternateOnStrokeBars(const std::vector<float>& out, const std::vector<float>& bi) {
    float previous = 0.0f;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float v = out[i];
        if (v == 0.0f) continue;
        if (v != 1.0f && v != -1.0f) return false;
        if (v != bi[i] || v == previous) return false;
        previous = v;
    }
    return true;
}

TEST(SegmentProperties, OnStrokeSignals) {
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 25; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 600, seed);
            const std::vector<float> bi = CalcBiSignal(bars.high, bars.low);
            const std::vector<float> f3 = CalcSegmentSignal(bi, bars.high, bars.low);
            const std::vector<float> f4 = CalcSegmentSignalNoPullback(bi, bars.high, bars.low);
            EXPECT_TRUE(marksAlternateOnStrokeBars(f3, bi)) << testing::shapeName(shape) << seed;
            EXPECT_TRUE(marksAlternateOnStrokeBars(f4, bi)) << testing::shapeName(shape) << seed;
        }
    }
}

// Bar by bar, the two variants agree until function 3 first reverses where
// function 4 does not: a pullback reversal, on the newest bar, against the
// direction of the segment before it. Nothing else may set them apart.
TEST(SegmentProperties, VariantsDivergeOnlyAtAPullbackReversal) {
    int divergences = 0;
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 8; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 160, seed);
            const std::vector<float> bi = CalcBiSignal(bars.high, bars.low);
            for (std::size_t t = 1; t <= bi.size(); ++t) {
                const std::span<const float> s(bi.data(), t), h(bars.high.data(), t),
                    l(bars.low.data(), t);
                const std::vector<float> f3 = CalcSegmentSignal(s, h, l);
                const std::vector<float> f4 = CalcSegmentSignalNoPullback(s, h, l);
                if (f3 == f4) continue;
                ++divergences;
                ASSERT_NE(f3[t - 1], 0.0f) << testing::shapeName(shape) << seed << " bar " << t;
                ASSERT_EQ(f4[t - 1], 0.0f);
                EXPECT_TRUE(std::equal(f3.begin(), f3.end() - 1, f4.begin()));
                float before = 0.0f;
                for (std::size_t j = 0; j + 1 < t; ++j) {
                    if (f3[j] != 0.0f) before = f3[j];
                }
                EXPECT_EQ(f3[t - 1], -before);
                break;
            }
        }
    }
    EXPECT_GT(divergences, 0) << "no series exercised the pullback rule";
}

TEST(SegmentProperties, OnArbitrarySignals) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const testing::Bars bars = testing::makeBars(testing::Shape::TinyValueSet, 300, seed);
        const std::vector<float> signal = testing::makeArbitrarySignal(300, seed);
        for (auto rule : {PullbackRule::Apply, PullbackRule::Ignore}) {
            const std::vector<float> out = CalcSegment(signal, bars.high, bars.low, rule);
            EXPECT_TRUE(marksAlternateOnStrokeBars(out, signal)) << seed;
        }
    }
}

// Walked over the signal's turning points, the machine marks what it marks
// walking the signal; stroke ends out of order or outside the bars are refused.
TEST(SegmentProperties, FromTurningPointsAsFromTheSignal) {
    for (const testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 400, seed);
            for (const bool strokes : {true, false}) {
                const std::vector<float> signal =
                    strokes ? CalcBiSignal(bars.high, bars.low) : testing::makeArbitrarySignal(400, seed);
                const std::vector<TurningPoint> ends = turningPoints(signal, bars.high, bars.low);
                for (const auto rule : {PullbackRule::Apply, PullbackRule::Ignore}) {
                    EXPECT_EQ(CalcSegmentMarks(ends, bars.high, bars.low, rule),
                              CalcSegmentMarks(signal, bars.high, bars.low, rule))
                        << testing::shapeName(shape) << " seed " << seed << (strokes ? " strokes" : " arbitrary");
                }
            }
        }
    }
    const std::vector<float> high{3, 4, 5}, low{1, 2, 3};
    const std::vector<std::vector<TurningPoint>> refused{
        {{1, true, 4}, {1, false, 2}},  // the same bar twice
        {{2, true, 5}, {0, false, 1}},  // descending
        {{-1, true, 4}},
        {{3, true, 4}},  // past the last bar
    };
    for (const std::vector<TurningPoint>& ends : refused) {
        EXPECT_THROW(CalcSegmentMarks(ends, high, low, PullbackRule::Apply), std::invalid_argument);
    }
}

}  // namespace
}  // namespace vlm
