#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "stroke/bi_chuli.h"
#include "stroke/bi_signal.h"
#include "support/series_gen.h"

namespace vlm {

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

struct StrokeShape {
    std::int32_t direction, startIndex, endIndex;
    float high, low;
    std::int32_t firstBar, lastBar;  // bars of kxianList, consecutive
};

std::vector<StrokeShape> shapesOf(const BiChuLi& b) {
    std::vector<StrokeShape> out;
    for (const Bi& bi : b.biList) {
        out.push_back({bi.direction, bi.startIndex, bi.endIndex, bi.high, bi.low,
                       bi.kxianList.front().startIndex, bi.kxianList.back().endIndex});
    }
    return out;
}

bool operator==(const StrokeShape& a, const StrokeShape& b) {
    return a.direction == b.direction && a.startIndex == b.startIndex && a.endIndex == b.endIndex &&
           a.high == b.high && a.low == b.low && a.firstBar == b.firstBar && a.lastBar == b.lastBar;
}

void PrintTo(const StrokeShape& s, std::ostream* os) {
    *os << "(" << s.direction << ", " << s.startIndex << ", " << s.endIndex << ", " << s.high
        << ", " << s.low << ", bars " << s.firstBar << " to " << s.lastBar << ")";
}

namespace {

struct BuildCase {
    const char* name;
    std::vector<Kxian> merged;
    std::vector<StrokeShape> expected;
};

class BuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildTest, Strokes) {
    BiChuLi b;
    b.build(GetParam().merged);
    EXPECT_EQ(shapesOf(b), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BuildTest,
    ::testing::Values(
        BuildCase{"Empty", {}, {}},
        BuildCase{"OneBar", mergedBars({{5, 4}}), {{1, 0, 0, 5, 4, 0, 0}}},
        BuildCase{"WorkedExample",
                  mergedBars({{10, 9}, {9, 8}, {8, 7}, {7, 6}, {6, 5}, {7, 6}, {8, 7}, {9, 8},
                              {10, 9}, {11, 10}}),
                  {{1, 0, 0, 10, 9, 0, 0}, {-1, 0, 4, 10, 5, 1, 4}, {1, 4, 9, 11, 5, 5, 9}}},
        BuildCase{"WorkedExampleWithoutLastBar",
                  mergedBars({{10, 9}, {9, 8}, {8, 7}, {7, 6}, {6, 5}, {7, 6}, {8, 7}, {9, 8},
                              {10, 9}}),
                  {{1, 0, 0, 10, 9, 0, 0}, {-1, 0, 4, 10, 5, 1, 4}, {1, 4, 8, 10, 5, 5, 8}}},
        BuildCase{"ThreePendingNeverOpen", mergedBars({{100, 99}, {9, 8}, {1, 0}, {-50, -60}}),
                  {{1, 0, 0, 100, 99, 0, 0}}},
        BuildCase{"EqualHighExtends", mergedBars({{10, 9}, {9, 8}, {10, 9.5f}, {9.5f, 9}}),
                  {{1, 0, 2, 10, 9, 0, 2}}},
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
        BuildCase{"NaNHighNeverExtends", mergedBars({{10, 9}, {kNaN, 9.5f}}),
                  {{1, 0, 0, 10, 9, 0, 0}}}),
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
                if (s > 0) {
                    EXPECT_EQ(bi.startIndex, b.biList[s - 1].endIndex);
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
        }
    }
}

}  // namespace
}  // namespace vlm
