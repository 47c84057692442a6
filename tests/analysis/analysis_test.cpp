#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "pivot/pivot_outputs.h"
#include "analysis/scan.h"
#include "support/series_gen.h"
#include "faces/replay_text.h"

namespace vlmstruct {
namespace {

using vlm::testing::makeBars;
using vlm::testing::runFunction;
using vlm::testing::sameBits;
using vlm::testing::shapeName;

// What analyse computes once and shares is what each routine gives on its
// own: the nine functions as a host calls them, the pivot list with and
// without the pivot under way, the run counts and the trading points, with
// closes and with the mid-price.
TEST(Analyse, SameAsEachRoutineOnItsOwn) {
    for (const vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        for (const std::size_t n : {0u, 1u, 5u, 90u, 800u, 4000u, 70000u}) {
            const vlm::testing::Bars bars = makeBars(shape, n, 11);
            std::vector<float> close(n);
            for (std::size_t i = 0; i < n; ++i) close[i] = i % 3 == 0 ? bars.high[i] : bars.low[i];
            for (const bool withClose : {true, false}) {
                const std::span<const float> c = withClose ? std::span<const float>(close) : std::span<const float>{};
                SCOPED_TRACE(std::string(shapeName(shape)) + " n=" + std::to_string(n) +
                             (withClose ? " closes" : " mid-price"));
                const Analysis a = analyse(bars.high, bars.low, c, {});
                const std::vector<float> signal = runFunction(2, {}, bars.high, bars.low);
                // Function 1 gives only marks: a long series holds it packed.
                EXPECT_EQ(a.outputs[0].packed(), n >= OutputColumn::kPackedFrom);
                for (int number = 1; number <= 9; ++number) {
                    const OutputColumn& column = a.outputs[static_cast<std::size_t>(number - 1)];
                    const std::vector<float> expected = runFunction(number, signal, bars.high, bars.low);
                    EXPECT_TRUE(sameBits(column.floats(), expected)) << "function " << number;
                    std::vector<float> read(column.size());
                    for (std::size_t i = 0; i < read.size(); ++i) read[i] = column[i];
                    EXPECT_TRUE(sameBits(read, expected)) << "function " << number;
                }
                // Strokes and segments: every bar of signal 1 or -1, in order, at its high or low.
                for (const auto& [marks, number] : {std::pair{&a.strokes, 2}, std::pair{&a.segments, 3}}) {
                    const std::vector<float> out = runFunction(number, signal, bars.high, bars.low);
                    std::size_t k = 0;
                    for (std::size_t i = 0; i < n; ++i) {
                        if (out[i] != 1.0f && out[i] != -1.0f) continue;
                        ASSERT_LT(k, marks->size()) << "function " << number;
                        const Mark& m = (*marks)[k++];
                        EXPECT_EQ(m.bar, static_cast<int>(i));
                        EXPECT_EQ(m.direction, out[i] == 1.0f ? 1 : -1);
                        EXPECT_TRUE(sameBits(std::vector<float>{m.price},
                                             std::vector<float>{out[i] == 1.0f ? bars.high[i] : bars.low[i]}));
                    }
                    EXPECT_EQ(k, marks->size()) << "function " << number;
                }
                const vlm::ZhongShuList listed = vlm::CalcPivotList(signal, bars.high, bars.low);
                EXPECT_EQ(a.pivots, listed);
                EXPECT_TRUE(sameBits(a.runCounts, vlm::PivotRunCounts(listed)));
                const vlm::ZhongShuList withOpen =
                    vlm::CalcPivotList(signal, bars.high, bars.low, {.includeOpenPivot = true});
                EXPECT_EQ(a.openPivot.has_value(), withOpen.size() > listed.size());
                if (a.openPivot) {
                    EXPECT_EQ(*a.openPivot, withOpen.back());
                }
                EXPECT_EQ(a.points, vlm::CalcTradingPoints(bars.high, bars.low, c, {}));
            }
        }
    }
}

// A column reads back every value bit for bit, packed or not; a long one
// packs only when every value is a whole number a byte holds, wherever the
// one that is not stands.
TEST(OutputColumn, ReadsBackWhatItWasGiven) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::size_t longest = OutputColumn::kPackedFrom + 5000;
    const struct {
        std::vector<float> pattern;  // repeated over the column
        float misfit;                // 0: none; else put at `at`
        std::size_t at;
        bool packs;
    } cases[] = {
        {{0.0f, 1.0f, -1.0f, 0.0f, 2.0f}, 0.0f, 0, true},
        {{127.0f, -128.0f, 15.0f, 0.0f}, 0.0f, 0, true},
        {{0.0f, 1.0f}, -0.0f, 0, false},
        {{0.0f, 1.0f}, -0.0f, longest - 1, false},
        {{0.0f, -1.0f}, nan, 4095, false},
        {{0.0f, -1.0f}, nan, 4096, false},
        {{1.0f, 0.0f}, 0.5f, 70000, false},
        {{1.0f, 0.0f}, 128.0f, 3, false},
        {{1.0f, 0.0f}, -129.0f, 9000, false},
        {{1.0f, 0.0f}, inf, 12, false},
        {{1.0f, 0.0f}, -inf, 40000, false},
        {{6.29f, 0.0f, 6.29f}, 0.0f, 0, false},
    };
    for (const std::size_t n :
         {std::size_t{0}, std::size_t{7}, OutputColumn::kPackedFrom - 1, OutputColumn::kPackedFrom, longest}) {
        for (const auto& c : cases) {
            std::vector<float> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = c.pattern[i % c.pattern.size()];
            if ((c.misfit != 0.0f || std::signbit(c.misfit)) && c.at < n) values[c.at] = c.misfit;
            const bool packs = n >= OutputColumn::kPackedFrom && (c.packs || c.at >= n);
            SCOPED_TRACE("n=" + std::to_string(n) + " " + ::testing::PrintToString(c.pattern) + " at " +
                         std::to_string(c.at));
            const OutputColumn column(values);
            EXPECT_EQ(column.packed(), packs);
            ASSERT_EQ(column.size(), n);
            std::vector<float> read(n);
            for (std::size_t i = 0; i < n; ++i) read[i] = column[i];
            EXPECT_TRUE(sameBits(read, values));
            EXPECT_TRUE(sameBits(column.floats(), values));
            OutputColumn taken(values);
            EXPECT_TRUE(sameBits(std::move(taken).floats(), values));
            EXPECT_EQ(taken.size(), 0u);  // NOLINT(bugprone-use-after-move): left empty on purpose
        }
    }
}

// Every field, floats by their bits (%a tells 0 from -0, NaN from any number).
std::string describe(const Latest& l) {
    std::string out;
    char buffer[160];
    auto mark = [&](const char* what, const std::optional<Mark>& m) {
        if (!m) return out += std::string(what) + " none; ", void();
        std::snprintf(buffer, sizeof buffer, "%s %d %d %a; ", what, m->bar, m->direction, m->price);
        out += buffer;
    };
    mark("stroke", l.stroke);
    mark("segment", l.segment);
    if (l.pivot) {
        std::snprintf(buffer, sizeof buffer, "pivot %d-%d %a %a %a run %a; ", l.pivot->start, l.pivot->end,
                      l.pivot->upper, l.pivot->lower, l.pivot->trend, l.pivotRunCount);
        out += buffer;
    }
    if (l.point) {
        const vlm::TradingPoint& p = *l.point;
        std::snprintf(buffer, sizeof buffer, "point %d side %d %a classes %u forces %a %a %a follows %d", p.bar,
                      static_cast<int>(p.side), p.price, p.classes, p.leavingForce, p.enteringForce, p.forceRatio,
                      p.follows);
        out += buffer;
        for (const vlm::PointPivot& pp : p.pivots) {
            std::snprintf(buffer, sizeof buffer, " [%d-%d %a %a %a %a]", pp.pivot.start, pp.pivot.end, pp.pivot.upper,
                          pp.pivot.lower, pp.pivot.trend, pp.runCount);
            out += buffer;
        }
    }
    return out;
}

// The latest structures computed on their own are those of the whole
// analysis, and so is the summary row built from them: with closes, with
// the mid-price, with NaN closes, under several point options, on series
// with and without strokes, pivots and points.
TEST(AnalyseLatest, SameAsTheWholeAnalysis) {
    std::vector<vlm::TradingPointOptions> optionSets(4);
    optionSets[1].class1MinRun = 1;
    optionSets[1].force = vlm::ForceMeasure::Peak;
    optionSets[2].force = vlm::ForceMeasure::Slope;
    optionSets[2].divergenceRatio = 1.5;
    optionSets[3].macd = {3, 7, 2};
    optionSets[3].force = vlm::ForceMeasure::FullArea;
    int withoutStroke = 0, withoutPivot = 0, withoutPoint = 0, withPoint = 0;
    for (const vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        for (const std::size_t n : {0u, 1u, 3u, 12u, 40u, 90u, 800u, 3000u}) {
            for (std::uint32_t seed = 1; seed <= 3; ++seed) {
                const vlm::testing::Bars bars = makeBars(shape, n, seed * 7);
                for (const int closes : {0, 1, 2}) {  // none (mid-price), plain, some NaN
                    BarSeries series;
                    series.high = bars.high;
                    series.low = bars.low;
                    if (closes > 0) {
                        for (std::size_t i = 0; i < n; ++i) {
                            const bool gap = closes == 2 && i % 5 == 3;
                            series.close.push_back(gap ? std::numeric_limits<float>::quiet_NaN()
                                                       : i % 2 == 0 ? bars.high[i] : bars.low[i]);
                        }
                    }
                    for (std::size_t o = 0; o < optionSets.size(); ++o) {
                        SCOPED_TRACE(std::string(shapeName(shape)) + " n=" + std::to_string(n) + " seed " +
                                     std::to_string(seed) + " closes " + std::to_string(closes) + " options " +
                                     std::to_string(o));
                        const Latest whole = latestOf(analyse(series, optionSets[o]));
                        const Latest latest = analyseLatest(series.high, series.low, series.close, optionSets[o]);
                        EXPECT_EQ(describe(latest), describe(whole));
                        EXPECT_EQ(scanCsv({summarise("f.csv", series, latest)}),
                                  scanCsv({summarise("f.csv", series, whole)}));
                        withoutStroke += latest.stroke ? 0 : 1;
                        withoutPivot += latest.pivot ? 0 : 1;
                        (latest.point ? withPoint : withoutPoint) += 1;
                    }
                }
            }
        }
    }
    EXPECT_GT(withoutStroke, 0);
    EXPECT_GT(withoutPivot, 0);
    EXPECT_GT(withoutPoint, 0);
    EXPECT_GT(withPoint, 0);
}

}  // namespace
}  // namespace vlmstruct
