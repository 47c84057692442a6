#include <gtest/gtest.h>

#include <algorithm>

#include <limits>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "kline/kxian_signal.h"
#include "support/series_gen.h"

namespace vlm {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameRecord(const Kxian& a, const Kxian& b) {
    // Bitwise on prices so a NaN that stays in a record is seen.
    return testing::sameBits(std::span(&a.high, 1), std::span(&b.high, 1)) &&
           testing::sameBits(std::span(&a.low, 1), std::span(&b.low, 1)) &&
           a.direction == b.direction && a.startIndex == b.startIndex &&
           a.endIndex == b.endIndex && a.extremeIndex == b.extremeIndex;
}

bool sameRecords(const std::vector<Kxian>& a, const std::vector<Kxian>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameRecord);
}

void PrintTo(const Kxian& k, std::ostream* os) {
    *os << "(" << k.high << ", " << k.low << ", " << k.direction << ", " << k.startIndex << ", "
        << k.endIndex << ", " << k.extremeIndex << ")";
}

namespace {

struct MergeCase {
    const char* name;
    std::vector<float> high;
    std::vector<float> low;
    std::vector<Kxian> expected;
};

class MergeTest : public ::testing::TestWithParam<MergeCase> {};

// Bar by bar, the whole series at once, and the series in two calls all
// merge the same way.
TEST_P(MergeTest, RecordsAfterLastBar) {
    const MergeCase& c = GetParam();
    KxianChuLi byBar;
    for (std::size_t i = 0; i < c.high.size(); ++i) byBar.AddKxian(c.high[i], c.low[i]);
    EXPECT_PRED2(sameRecords, byBar.kxianList, c.expected) << "bar by bar";

    KxianChuLi whole;
    whole.AddKxians(c.high, c.low);
    EXPECT_PRED2(sameRecords, whole.kxianList, c.expected) << "whole series";

    const std::size_t half = c.high.size() / 2;
    KxianChuLi split;
    split.AddKxians(std::span(c.high).first(half), std::span(c.low).first(half));
    split.AddKxians(std::span(c.high).subspan(half), std::span(c.low).subspan(half));
    EXPECT_PRED2(sameRecords, split.kxianList, c.expected) << "in two calls";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, MergeTest,
    ::testing::Values(
        MergeCase{"WorkedExample", {10, 12, 11, 13, 12, 11}, {5, 6, 7, 6, 8, 6},
                  {{10, 5, 1, 0, 0, 0}, {13, 8, 1, 1, 4, 3}, {11, 6, -1, 5, 5, 5}}},
        MergeCase{"OneBar", {5}, {4}, {{5, 4, 1, 0, 0, 0}}},
        MergeCase{"Falling", {10, 9, 8}, {9, 8, 7},
                  {{10, 9, 1, 0, 0, 0}, {9, 8, -1, 1, 1, 1}, {8, 7, -1, 2, 2, 2}}},
        MergeCase{"Rising", {1, 2, 3}, {0, 1, 2},
                  {{1, 0, 1, 0, 0, 0}, {2, 1, 1, 1, 1, 1}, {3, 2, 1, 2, 2, 2}}},
        MergeCase{"Identical", {5, 5, 5}, {4, 4, 4}, {{5, 4, 1, 0, 2, 0}}},
        MergeCase{"ContainsFirstKeepsLow", {10, 10}, {5, 4}, {{10, 5, 1, 0, 1, 1}}},
        MergeCase{"EqualHighHigherLow", {10, 10}, {5, 6}, {{10, 6, 1, 0, 1, 0}}},
        MergeCase{"DownMergeTakesLow", {10, 9, 9}, {8, 7, 6},
                  {{10, 8, 1, 0, 0, 0}, {9, 6, -1, 1, 2, 2}}},
        MergeCase{"DownEqualLowLowerHighStays", {10, 9, 8.5f}, {8, 7, 7},
                  {{10, 8, 1, 0, 0, 0}, {8.5f, 7, -1, 1, 2, 1}}},
        MergeCase{"DownEqualLowHigherHighMoves", {10, 9, 9.5f}, {8, 7, 7},
                  {{10, 8, 1, 0, 0, 0}, {9, 7, -1, 1, 2, 2}}},
        MergeCase{"OneSideEqualIsNoNewRecord", {10, 11}, {5, 5}, {{11, 5, 1, 0, 1, 1}}},
        // Lower high and equal low: inside the up record, which keeps its extreme.
        MergeCase{"LowerHighEqualLowIsNoNewRecord", {10, 9}, {5, 5}, {{10, 5, 1, 0, 1, 0}}},
        MergeCase{"UpContainingBarTakesHigh", {10, 12, 13}, {5, 6, 5.5f},
                  {{10, 5, 1, 0, 0, 0}, {13, 6, 1, 1, 2, 2}}},
        MergeCase{"DownIdenticalBarStays", {10, 9, 9}, {8, 7, 7},
                  {{10, 8, 1, 0, 0, 0}, {9, 7, -1, 1, 2, 1}}},
        MergeCase{"DownInsideBarTakesLowerHigh", {10, 9, 8.5f}, {8, 7, 7.5f},
                  {{10, 8, 1, 0, 0, 0}, {8.5f, 7, -1, 1, 2, 1}}},
        MergeCase{"DownContainingBarTakesLow", {10, 9, 9.5f}, {8, 7, 6.5f},
                  {{10, 8, 1, 0, 0, 0}, {9, 6.5f, -1, 1, 2, 2}}},
        MergeCase{"UpAfterDown", {10, 9, 10}, {5, 4, 6},
                  {{10, 5, 1, 0, 0, 0}, {9, 4, -1, 1, 1, 1}, {10, 6, 1, 2, 2, 2}}},
        MergeCase{"LongInsideRun", {10, 9, 9, 9, 9}, {1, 2, 2, 2, 2}, {{10, 2, 1, 0, 4, 0}}},
        // A NaN high is overwritten by the next merge of an up record.
        MergeCase{"NaNHighOverwritten", {10, kNaN, 9, 20}, {5, 6, 6, 7},
                  {{9, 5, 1, 0, 2, 2}, {20, 7, 1, 3, 3, 3}}},
        // A NaN low of an up record is never overwritten: every later bar merges.
        MergeCase{"NaNLowStays", {10, 12, 30, 1}, {kNaN, 6, 20, 0}, {{1, kNaN, 1, 0, 3, 3}}},
        // The mirror: a NaN low of a down record is overwritten by the next merge.
        MergeCase{"DownNaNLowOverwritten", {10, 9, 9.5f, 8}, {8, 7, kNaN, 7.5f},
                  {{10, 8, 1, 0, 0, 0}, {9, 7.5f, -1, 1, 3, 3}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MergeWorkedExample, EachStep) {
    const float high[] = {10, 12, 11, 13, 12, 11};
    const float low[] = {5, 6, 7, 6, 8, 6};
    const Kxian lastAfter[] = {{10, 5, 1, 0, 0, 0}, {12, 6, 1, 1, 1, 1}, {12, 7, 1, 1, 2, 1},
                               {13, 7, 1, 1, 3, 3}, {13, 8, 1, 1, 4, 3}, {11, 6, -1, 5, 5, 5}};
    KxianChuLi chuLi;
    for (int i = 0; i < 6; ++i) {
        chuLi.AddKxian(high[i], low[i]);
        EXPECT_PRED2(sameRecord, chuLi.kxianList.back(), lastAfter[i]) << "after bar " << i;
    }
}

TEST(MergeInvariants, HoldOnGeneratedSeries) {
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 300, seed);
            KxianChuLi chuLi;
            for (std::size_t i = 0; i < bars.size(); ++i) chuLi.AddKxian(bars.high[i], bars.low[i]);
            const auto& list = chuLi.kxianList;
            ASSERT_FALSE(list.empty());
            EXPECT_EQ(list.front().direction, 1);
            EXPECT_EQ(list.front().startIndex, 0);
            EXPECT_EQ(list.back().endIndex, 299);
            for (std::size_t k = 0; k < list.size(); ++k) {
                EXPECT_LE(list[k].startIndex, list[k].extremeIndex);
                EXPECT_LE(list[k].extremeIndex, list[k].endIndex);
                if (k == 0) continue;
                EXPECT_EQ(list[k].startIndex, list[k - 1].endIndex + 1);
                if (shape == testing::Shape::WithNaN) continue;
                // No record contains its neighbour.
                if (list[k].direction == 1) {
                    EXPECT_GT(list[k].high, list[k - 1].high);
                    EXPECT_GT(list[k].low, list[k - 1].low);
                } else {
                    EXPECT_LT(list[k].high, list[k - 1].high);
                    EXPECT_LT(list[k].low, list[k - 1].low);
                }
            }
        }
    }
}

struct SignalCase {
    const char* name;
    std::vector<float> high;
    std::vector<float> low;
    std::vector<float> expected;
};

class TurningPointTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(TurningPointTest, Signal) {
    const SignalCase& c = GetParam();
    EXPECT_EQ(CalcKxianSignal(c.high, c.low), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TurningPointTest,
    ::testing::Values(
        SignalCase{"WorkedExample", {10, 12, 11, 13, 12, 11}, {5, 6, 7, 6, 8, 6}, {0, 0, 0, 1, 0, -1}},
        SignalCase{"Falling", {10, 9, 8}, {9, 8, 7}, {1, 0, -1}},
        SignalCase{"Rising", {1, 2, 3}, {0, 1, 2}, {0, 0, 1}},
        SignalCase{"OneBar", {5}, {4}, {1}},
        SignalCase{"Identical", {5, 5, 5}, {4, 4, 4}, {1, 0, 0}},
        SignalCase{"SecondContainsFirst", {10, 10}, {5, 4}, {0, 1}},
        SignalCase{"EqualHighHigherLow", {10, 10}, {5, 6}, {1, 0}},
        SignalCase{"UpDownUp", {10, 9, 10}, {5, 4, 6}, {1, -1, 1}},
        SignalCase{"DownMerge", {10, 9, 9}, {8, 7, 6}, {1, 0, -1}},
        SignalCase{"DownUpDown", {10, 9, 10, 9}, {5, 4, 6, 3}, {1, -1, 1, -1}},
        // A down record's mark follows its low: onto the containing bar, not the inside one.
        SignalCase{"DownExtremeMoves", {10, 9, 9.5f, 10.5f}, {8, 7, 6.5f, 8}, {1, 0, -1, 1}},
        SignalCase{"DownExtremeStays", {10, 9, 8.5f, 10.5f}, {8, 7, 7.5f, 8}, {1, -1, 0, 1}},
        SignalCase{"NoBars", {}, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TurningPointProperties, MarksAlternateAndEndWithLastDirection) {
    for (testing::Shape shape : testing::kAllShapes) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            const testing::Bars bars = testing::makeBars(shape, 400, seed);
            const std::vector<float> out = CalcKxianSignal(bars.high, bars.low);
            KxianChuLi chuLi;
            for (std::size_t i = 0; i < bars.size(); ++i) chuLi.AddKxian(bars.high[i], bars.low[i]);
            float previous = 0.0f;
            for (float v : out) {
                ASSERT_TRUE(v == 0.0f || v == 1.0f || v == -1.0f);
                if (v == 0.0f) continue;
                EXPECT_NE(v, previous) << testing::shapeName(shape) << " seed " << seed;
                previous = v;
            }
            EXPECT_EQ(previous, static_cast<float>(chuLi.kxianList.back().direction));
        }
    }
}

}  // namespace
}  // namespace vlm
