#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "stroke/bi_chuli.h"
#include "stroke/bi_signal.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Merged bars that each cover one input bar, numbered by position.
std::vector<Kxian> mergedBars(std::initializer_list<std::pair<float, float>> bars) {
    std::vector<Kxian> list;
    std::int32_t i = 0;
    for (auto [h, l] : bars) {
        list.push_back(Kxian{h, l, 1, i, i, i});
        ++i;
    }
    return list;
}

bool sameKxian(const Kxian& a, const Kxian& b) {
    return testing::sameBits(std::span(&a.high, 1), std::span(&b.high, 1)) &&
           testing::sameBits(std::span(&a.low, 1), std::span(&b.low, 1)) &&
           a.direction == b.direction && a.startIndex == b.startIndex &&
           a.endIndex == b.endIndex && a.extremeIndex == b.extremeIndex;
}

// The same stroke but for its merged bars: direction, ends, and extremes by their bits.
bool sameStrokeEnds(const Bi& a, const Bi& b) {
    return a.direction == b.direction && a.startIndex == b.startIndex && a.endIndex == b.endIndex &&
           testing::sameBits(std::span(&a.high, 1), std::span(&b.high, 1)) &&
           testing::sameBits(std::span(&a.low, 1), std::span(&b.low, 1));
}

// The same stroke, merged bars and all.
bool sameStroke(const Bi& a, const Bi& b) {
    return sameStrokeEnds(a, b) &&
           std::equal(a.kxianList.begin(), a.kxianList.end(), b.kxianList.begin(), b.kxianList.end(), sameKxian);
}

// The merged bars of a generated series.
std::vector<Kxian> mergedOf(testing::Shape shape, std::size_t bars, std::uint32_t seed) {
    const testing::Bars series = testing::makeBars(shape, bars, seed);
    KxianChuLi chuLi;
    chuLi.AddKxians(series.high, series.low);
    return chuLi.kxianList;
}

struct StrokeShape {
    std::int32_t direction, startIndex, endIndex;
    float high, low;
    std::size_t first, last;  // positions in the merged list of its first and last merged bar
};

// Every field of every stroke; its kxianList must be the merged bars from
// `first` to `last`, copied whole.
void expectStrokes(const std::vector<Bi>& strokes, std::span<const Kxian> merged,
                   const std::vector<StrokeShape>& expected) {
    ASSERT_EQ(strokes.size(), expected.size());
    for (std::size_t s = 0; s < strokes.size(); ++s) {
        const Bi& bi = strokes[s];
        const StrokeShape& e = expected[s];
        EXPECT_EQ(bi.direction, e.direction) << "stroke " << s;
        EXPECT_EQ(bi.startIndex, e.startIndex) << "stroke " << s;
        EXPECT_EQ(bi.endIndex, e.endIndex) << "stroke " << s;
        EXPECT_EQ(bi.high, e.high) << "stroke " << s;
        EXPECT_EQ(bi.low, e.low) << "stroke " << s;
        ASSERT_LT(e.last, merged.size());
        const auto want = merged.subspan(e.first, e.last + 1 - e.first);
        EXPECT_TRUE(std::equal(bi.kxianList.begin(), bi.kxianList.end(), want.begin(), want.end(),
                               sameKxian))
            << "stroke " << s << " should hold merged bars " << e.first << " to " << e.last
            << ", holds " << bi.kxianList.size();
    }
}

struct BuildCase {
    const char* name;
    std::vector<Kxian> merged;
    std::vector<StrokeShape> expected;
};

class BuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildTest, Strokes) {
    BiChuLi b;
    b.build(GetParam().merged);
    expectStrokes(b.biList, GetParam().merged, GetParam().expected);
}

// The worked example's falling run: bars 1 to 4 open a down stroke at bar 4.
std::vector<Kxian> downFromTen(std::initializer_list<std::pair<float, float>> more) {
    std::vector<std::pair<float, float>> all = {{10, 9}, {9, 8}, {8, 7}, {7, 6}, {6, 5}};
    all.insert(all.end(), more.begin(), more.end());
    std::vector<Kxian> list;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(all.size()); ++i) {
        list.push_back(Kxian{all[static_cast<std::size_t>(i)].first,
                             all[static_cast<std::size_t>(i)].second, 1, i, i, i});
    }
    return list;
}

const StrokeShape kFirstUp = {1, 0, 0, 10, 9, 0, 0};
const StrokeShape kDownToFour = {-1, 0, 4, 10, 5, 1, 4};

INSTANTIATE_TEST_SUITE_P(
    Examples, BuildTest,
    ::testing::Values(
        BuildCase{"Empty", {}, {}},
        BuildCase{"OneBar", mergedBars({{5, 4}}), {{1, 0, 0, 5, 4, 0, 0}}},
        // The first stroke starts at its merged bar's first input bar and ends at its last.
        BuildCase{"FirstStrokeOverTwoBars", {Kxian{10, 6, 1, 0, 1, 0}}, {{1, 0, 1, 10, 6, 0, 0}}},
        BuildCase{"WorkedExample", downFromTen({{7, 6}, {8, 7}, {9, 8}, {10, 9}, {11, 10}}),
                  {kFirstUp, kDownToFour, {1, 4, 9, 11, 5, 5, 9}}},
        BuildCase{"WorkedExampleWithoutLastBar", downFromTen({{7, 6}, {8, 7}, {9, 8}, {10, 9}}),
                  {kFirstUp, kDownToFour, {1, 4, 8, 10, 5, 5, 8}}},
        // The new up stroke's high is the confirming bar's, not the down stroke's 10.
        BuildCase{"NewUpStrokeTakesConfirmingHigh",
                  downFromTen({{7, 6}, {8, 7}, {9, 8}, {9.5f, 8.5f}}),
                  {kFirstUp, kDownToFour, {1, 4, 8, 9.5f, 5, 5, 8}}},
        BuildCase{"ThreePendingNeverOpen", mergedBars({{100, 99}, {9, 8}, {1, 0}, {-50, -60}}),
                  {{1, 0, 0, 100, 99, 0, 0}}},
        BuildCase{"EqualHighExtends", mergedBars({{10, 9}, {9, 8}, {10, 9.5f}, {9.5f, 9}}),
                  {{1, 0, 2, 10, 9, 0, 2}}},
        BuildCase{"EqualLowExtends", downFromTen({{7, 6}, {6.5f, 5}, {6, 5.5f}}),
                  {kFirstUp, {-1, 0, 6, 10, 5, 1, 6}}},
        // The bar that confirms sets the extreme, not the lower bar before the run.
        BuildCase{"ConfirmingBarIsTheExtreme",
                  mergedBars({{30, 25}, {20, 5}, {21, 10}, {20.5f, 9}, {20.2f, 8}, {19.9f, 7}}),
                  {{1, 0, 0, 30, 25, 0, 0}, {-1, 0, 5, 30, 7, 1, 5}}},
        BuildCase{"LaterBarExtendsNewStroke",
                  mergedBars({{30, 25}, {20, 5}, {21, 10}, {20.5f, 9}, {20.2f, 8}, {19.9f, 7},
                              {19, 6}}),
                  {{1, 0, 0, 30, 25, 0, 0}, {-1, 0, 6, 30, 6, 1, 6}}},
        BuildCase{"RunWithoutLowerLowStaysPending",
                  mergedBars({{30, 25}, {20, 5}, {21, 10}, {20.5f, 9}, {20.2f, 8}}),
                  {{1, 0, 0, 30, 25, 0, 0}}},
        // Equal prices break a run of three and do not confirm, in both directions.
        BuildCase{"EqualLowBreaksTheRun",
                  mergedBars({{30, 25}, {20, 10}, {19, 9}, {18.5f, 9}, {18, 8}}),
                  {{1, 0, 0, 30, 25, 0, 0}}},
        BuildCase{"EqualLowDoesNotConfirm",
                  mergedBars({{30, 25}, {20, 10}, {19, 9}, {18, 8}, {18.5f, 8}}),
                  {{1, 0, 0, 30, 25, 0, 0}}},
        BuildCase{"EqualHighBreaksTheRun",
                  downFromTen({{7, 6}, {8, 7}, {8, 7.5f}, {9, 8}, {9.5f, 8.5f}}),
                  {kFirstUp, kDownToFour}},
        BuildCase{"EqualHighDoesNotConfirm", downFromTen({{7, 6}, {8, 7}, {9, 8}, {9, 8.5f}}),
                  {kFirstUp, kDownToFour}},
        BuildCase{"NaNHighNeverExtends", mergedBars({{10, 9}, {kNaN, 9.5f}}),
                  {{1, 0, 0, 10, 9, 0, 0}}},
        BuildCase{"NaNLowNeverExtends", downFromTen({{7, kNaN}}), {kFirstUp, kDownToFour}}),
    [](const auto& info) { return std::string(info.param.name); });

// Bars merged first, so a stroke's last merged bar can cover several input
// bars: the stroke ends at the last of them, its mark sits on the extreme.
struct BarsCase {
    const char* name;
    std::vector<float> high, low;
    std::vector<StrokeShape> strokes;
    std::vector<float> signal;
};

class StrokesFromBarsTest : public ::testing::TestWithParam<BarsCase> {};

TEST_P(StrokesFromBarsTest, StrokesAndSignal) {
    const BarsCase& c = GetParam();
    KxianChuLi chuLi;
    chuLi.AddKxians(c.high, c.low);
    BiChuLi b;
    b.build(chuLi.kxianList);
    expectStrokes(b.biList, chuLi.kxianList, c.strokes);
    EXPECT_EQ(CalcBiSignal(c.high, c.low), c.signal);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StrokesFromBarsTest,
    ::testing::Values(
        BarsCase{"FirstStrokeOverTwoBars", {10, 9.5f}, {5, 6}, {{1, 0, 1, 10, 6, 0, 0}}, {1, 0}},
        BarsCase{"DownStrokeEndsAfterItsMark", {10, 9, 8, 7, 6, 5.8f}, {9, 8, 7, 6, 5, 5.2f},
                 {kFirstUp, {-1, 0, 5, 10, 5, 1, 4}}, {1, 0, 0, 0, -1, 0}},
        BarsCase{"UpStrokeEndsAfterItsMark", {10, 9, 8, 7, 6, 7, 8, 9, 10.5f, 10.3f},
                 {9, 8, 7, 6, 5, 6, 7, 8, 9, 9.2f},
                 {kFirstUp, kDownToFour, {1, 4, 9, 10.5f, 5, 5, 8}},
                 {1, 0, 0, 0, -1, 0, 0, 0, 1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SignalCase {
    const char* name;
    std::vector<float> high;
    std::vector<float> low;
    std::vector<float> expected;
};

class StrokeSignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(StrokeSignalTest, Signal) {
    EXPECT_EQ(CalcBiSignal(GetParam().high, GetParam().low), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StrokeSignalTest,
    ::testing::Values(
        SignalCase{"NoBars", {}, {}, {}},
        SignalCase{"OneBar", {5}, {4}, {1}},
        SignalCase{"Flat", {10, 10, 10, 10}, {9, 9, 9, 9}, {1, 0, 0, 0}},
        SignalCase{"Rising", {1, 2, 3, 4, 5}, {0, 1, 2, 3, 4}, {0, 0, 0, 0, 1}},
        SignalCase{"FourFalling", {5, 4, 3, 2}, {4, 3, 2, 1}, {1, 0, 0, 0}},
        SignalCase{"FiveFalling", {5, 4, 3, 2, 1}, {4, 3, 2, 1, 0}, {1, 0, 0, 0, -1}},
        SignalCase{"ContainsFirst", {10, 11}, {9, 8}, {0, 1}},
        SignalCase{"InsideFirst", {10, 9.5f}, {9, 9.2f}, {1, 0}},
        SignalCase{"EqualHighMovesTop", {10, 9, 10, 9.5f}, {9, 8, 9.5f, 9}, {0, 0, 1, 0}},
        SignalCase{"DownThenUp", {10, 9, 8, 7, 6, 7, 8, 9, 10, 11}, {9, 8, 7, 6, 5, 6, 7, 8, 9, 10},
                   {1, 0, 0, 0, -1, 0, 0, 0, 0, 1}},
        SignalCase{"MarkBeforeEndIndex", {10, 9, 8, 7, 6, 5.8f}, {9, 8, 7, 6, 5, 5.2f},
                   {1, 0, 0, 0, -1, 0}},
        SignalCase{"LastBarCarriesLow", {10, 9, 8, 7, 6, 6.5f}, {9, 8, 7, 6, 5, 4.5f},
                   {1, 0, 0, 0, 0, -1}},
        SignalCase{"FourPending", {30, 20, 21, 20.5f, 20.2f}, {25, 5, 10, 9, 8}, {1, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// The confirmation rule read literally: three bars in a row strictly further
// in `direction`, and a later bar strictly beyond the third.
bool confirmsByDefinition(std::span<const Kxian> list, int direction) {
    const auto price = [&](std::size_t i) { return direction == -1 ? -list[i].low : list[i].high; };
    if (direction != -1 && direction != 1) return false;
    for (std::size_t i = 2; i < list.size(); ++i) {
        if (price(i - 2) < price(i - 1) && price(i - 1) < price(i)) {
            for (std::size_t j = i + 1; j < list.size(); ++j) {
                if (price(j) > price(i)) return true;
            }
        }
    }
    return false;
}

// The incremental test must answer as the rule read literally does after
// every bar, for both directions, on lists where runs, ties and NaN are common.
TEST(PendingConfirmation, AgreesWithTheDefinitionAfterEveryBar) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(0, 5);
    std::uniform_int_distribution<int> nanChance(0, 30);
    for (int trial = 0; trial < 3000; ++trial) {
        for (int direction : {-1, 1}) {
            PendingConfirmation pending(direction);
            std::vector<Kxian> list;
            const int length = 1 + trial % 25;
            for (int i = 0; i < length; ++i) {
                const float h = nanChance(rng) == 0 ? kNaN : static_cast<float>(value(rng));
                const float l = nanChance(rng) == 0 ? kNaN : static_cast<float>(value(rng));
                list.push_back(Kxian{h, l, 1, i, i, i});
                const bool expected = confirmsByDefinition(list, direction);
                ASSERT_EQ(pending.add(list.back()), expected)
                    << "trial " << trial << " direction " << direction << " bar " << i;
                ASSERT_EQ(confirmBi(list, direction), expected)
                    << "trial " << trial << " direction " << direction << " bar " << i;
            }
        }
    }
}

TEST(ConfirmBi, OtherDirectionsNeverConfirm) {
    const std::vector<Kxian> list = mergedBars({{4, 4}, {3, 3}, {2, 2}, {1, 1}, {0, 0}});
    EXPECT_TRUE(confirmBi(list, -1));
    EXPECT_FALSE(confirmBi(list, 0));
    EXPECT_FALSE(confirmBi(list, 2));
}

// Taking the merged bars one call at a time builds the same strokes, and
// the preview of each bar names what taking it then does.
TEST(StrokeProperties, BarByBarMatchesBuild) {
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 5; ++seed) {
            const std::vector<Kxian> merged = mergedOf(shape, 400, seed);
            BiChuLi whole;
            whole.build(merged);
            BiChuLi stepwise;
            for (std::size_t k = 0; k < merged.size(); ++k) {
                const StrokeStep predicted = stepwise.preview(merged[k]);
                const std::size_t strokesBefore = stepwise.biList.size();
                const std::int32_t endBefore =
                    strokesBefore == 0 ? -1 : stepwise.biList.back().endIndex;
                stepwise.push(merged, k);
                const std::size_t strokesAfter = stepwise.biList.size();
                StrokeStep seen = StrokeStep::Pends;
                if (strokesAfter > strokesBefore) {
                    seen = strokesBefore == 0 ? StrokeStep::OpensFirst : StrokeStep::Confirms;
                } else if (stepwise.biList.back().endIndex != endBefore) {
                    seen = StrokeStep::Extends;
                }
                ASSERT_EQ(predicted, seen) << testing::shapeName(shape) << " seed " << seed
                                           << " merged bar " << k;
            }
            ASSERT_EQ(stepwise.biList.size(), whole.biList.size());
            for (std::size_t s = 0; s < whole.biList.size(); ++s) {
                const Bi& a = stepwise.biList[s];
                const Bi& b = whole.biList[s];
                EXPECT_TRUE(sameStroke(a, b))
                    << testing::shapeName(shape) << " seed " << seed << " stroke " << s;
            }
        }
    }
}

// Strokes that keep only their end bar are the strokes that keep them all,
// built whole or bar by bar, and a push taken back restores them exactly.
TEST(StrokeProperties, EndBarOnlyKeepsTheSameStrokes) {
    const auto sameEndBar = [](const Bi& a, const Bi& b) {
        return sameStrokeEnds(a, b) && a.kxianList.size() == 1 && sameKxian(a.kxianList.back(), b.kxianList.back());
    };
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 8; ++seed) {
            const std::vector<Kxian> merged = mergedOf(shape, 400, seed);
            BiChuLi all;
            all.build(merged);
            BiChuLi whole(BiChuLi::Bars::EndOnly), stepwise(BiChuLi::Bars::EndOnly);
            whole.build(merged);
            for (std::size_t k = 0; k < merged.size(); ++k) {
                const std::vector<Bi> before = stepwise.biList;
                state::Tape saved;
                saved.keep(stepwise);
                stepwise.push(merged, k);
                saved.restore(stepwise);
                ASSERT_EQ(stepwise.biList.size(), before.size());
                for (std::size_t s = 0; s < before.size(); ++s) {
                    ASSERT_TRUE(sameStroke(stepwise.biList[s], before[s])) << "restored, merged bar " << k;
                }
                stepwise.push(merged, k);
            }
            for (const BiChuLi* endOnly : {&whole, &stepwise}) {
                ASSERT_EQ(endOnly->biList.size(), all.biList.size());
                for (std::size_t s = 0; s < all.biList.size(); ++s) {
                    EXPECT_TRUE(sameEndBar(endOnly->biList[s], all.biList[s]))
                        << testing::shapeName(shape) << " seed " << seed << " stroke " << s;
                }
            }
        }
    }
}

TEST(StrokeProperties, HoldOnGeneratedSeries) {
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 15; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 500, seed);
            KxianChuLi chuLi;
            for (std::size_t i = 0; i < bars.size(); ++i) chuLi.AddKxian(bars.high[i], bars.low[i]);
            BiChuLi b;
            b.build(chuLi.kxianList);
            ASSERT_FALSE(b.biList.empty());
            // The strokes' merged bars repeat the merged list from its start.
            std::size_t next = 0;
            for (std::size_t s = 0; s < b.biList.size(); ++s) {
                const Bi& bi = b.biList[s];
                EXPECT_EQ(bi.direction, s % 2 == 0 ? 1 : -1);
                EXPECT_GE(bi.kxianList.size(), s == 0 ? 1u : 4u);
                EXPECT_EQ(bi.endIndex, bi.kxianList.back().endIndex);
                // The extreme is the last merged bar's; the other price is
                // carried over from the stroke before (the first bar's, for
                // the first stroke).
                const Kxian& last = bi.kxianList.back();
                const float& extreme = bi.direction == 1 ? bi.high : bi.low;
                const float& lastExtreme = bi.direction == 1 ? last.high : last.low;
                EXPECT_TRUE(testing::sameBits(std::span(&extreme, 1), std::span(&lastExtreme, 1)))
                    << testing::shapeName(shape) << " seed " << seed << " stroke " << s;
                const float& carried = bi.direction == 1 ? bi.low : bi.high;
                const float& from = s == 0 ? chuLi.kxianList.front().low
                                           : (bi.direction == 1 ? b.biList[s - 1].low
                                                                : b.biList[s - 1].high);
                EXPECT_TRUE(testing::sameBits(std::span(&carried, 1), std::span(&from, 1)))
                    << testing::shapeName(shape) << " seed " << seed << " stroke " << s;
                if (s > 0) {
                    EXPECT_EQ(bi.startIndex, b.biList[s - 1].endIndex);
                } else {
                    EXPECT_EQ(bi.startIndex, 0);
                }
                for (const Kxian& k : bi.kxianList) {
                    ASSERT_LT(next, chuLi.kxianList.size());
                    EXPECT_EQ(k.startIndex, chuLi.kxianList[next].startIndex);
                    ++next;
                }
            }
            // One mark per stroke, alternating, the first a top.
            const std::vector<float> signal = CalcBiSignal(bars.high, bars.low);
            std::size_t marks = 0;
            float previous = -1.0f;
            for (float v : signal) {
                ASSERT_TRUE(v == 0.0f || v == 1.0f || v == -1.0f);
                if (v == 0.0f) continue;
                EXPECT_EQ(v, -previous) << testing::shapeName(shape) << " seed " << seed;
                previous = v;
                ++marks;
            }
            EXPECT_EQ(marks, b.biList.size());
            for (const Bi& bi : b.biList) {
                EXPECT_EQ(signal[static_cast<std::size_t>(bi.kxianList.back().extremeIndex)],
                          static_cast<float>(bi.direction));
            }
        }
    }
}

}  // namespace
}  // namespace vlm
