// Segment-level pivots with testVelmorDll as it is: functions 5 to 9 given
// function 3's output (the segment signal) in place of the stroke signal
// describe the pivots of the segments, which are the pivot rules applied to
// the segment ends. By hand on a small case, and on the samples and
// generated series against the pivot routine run on the segment ends that
// analyze's JSON lists.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "pivot/pivot_list.h"
#include "plugin/tool_text.h"
#include "support/plugin_library.h"
#include "support/series_gen.h"
#include "faces/replay_text.h"

namespace {

using vlm::testing::sameBits;

struct Zone {
    int start, end;
    float upper, lower, trend, runCount;
};

// What functions 5 to 9 write for these zones, by their published rules:
// bounds, trend and run count over the bars strictly inside each zone, 1 on
// the first and 2 on the last of them.
std::vector<std::vector<float>> outputsOf(const std::vector<Zone>& zones, std::size_t bars) {
    std::vector<std::vector<float>> out(5, std::vector<float>(bars, 0.0f));
    for (const Zone& z : zones) {
        for (int j = z.start + 1; j < z.end; ++j) {
            const auto i = static_cast<std::size_t>(j);
            out[0][i] = z.upper;
            out[1][i] = z.lower;
            out[3][i] = z.trend;
            out[4][i] = z.runCount;
        }
        out[2][static_cast<std::size_t>(z.start + 1)] = 1.0f;
        out[2][static_cast<std::size_t>(z.end - 1)] = 2.0f;
    }
    return out;
}

struct HostCalls {
    std::vector<float> strokes, segments;
    std::vector<std::vector<float>> segmentPivots;  // functions 5 to 9 on the segments
};

HostCalls segmentPivots(const vlm::testing::PluginLibrary& dll, const std::vector<float>& high,
                        const std::vector<float>& low, const std::vector<float>* strokes = nullptr) {
    HostCalls h;
    h.strokes = strokes ? *strokes : dll.call(2, high, low);
    h.segments = dll.call(3, h.strokes, high, low);
    for (int f = 5; f <= 9; ++f) h.segmentPivots.push_back(dll.call(f, h.segments, high, low));
    return h;
}

// Stroke ends whose segments are worked out by hand: seven segment ends
// (bottom 10, top 30, bottom 18, top 26, bottom 20, top 40, bottom 30), the
// first five of which make one rising pivot of segments.
TEST(SegmentPivots, ByHand) {
    const vlm::testing::PluginLibrary dll(VLM_DLL_PLUGIN);
    // Stroke ends at bars 1, 3, ..., 37: bottoms and tops in turn.
    const float ends[] = {10, 22, 15, 30, 25, 28, 18, 23, 19, 26, 22, 25, 20, 24, 21, 40, 35, 38, 30};
    const std::size_t n = 38;
    std::vector<float> strokes(n, 0.0f), high(n, 21.0f), low(n, 19.0f);
    high[0] = 11.0f;
    low[0] = 9.5f;
    for (std::size_t k = 0; k < std::size(ends); ++k) {
        const std::size_t bar = 2 * k + 1;
        const bool top = k % 2 == 1;
        strokes[bar] = top ? 1.0f : -1.0f;
        (top ? high : low)[bar] = ends[k];
    }
    const HostCalls h = segmentPivots(dll, high, low, &strokes);
    // Bar 13 by a lower top (28 after 30) and a lower bottom (18 after 25),
    // bar 19 and 25 the same way mirrored and again, bar 31 above the
    // segment top of bar 19, bar 37 by a lower top and bottom once more.
    std::vector<float> segments(n, 0.0f);
    const std::pair<std::size_t, float> marks[] = {{1, -1}, {7, 1}, {13, -1}, {19, 1}, {25, -1}, {31, 1}, {37, -1}};
    for (const auto& [bar, value] : marks) segments[bar] = value;
    EXPECT_EQ(h.segments, segments);
    // Bottoms 10 < 18 rise into the band of tops 30, 26 and bottoms 18, 20:
    // from the top at bar 7 to the bottom at bar 25, 20 to 26. The bottom 30
    // above 26 closes it upward, its own way: kept as it is.
    const std::vector<std::vector<float>> expected = outputsOf({{7, 25, 26.0f, 20.0f, 1.0f, 1.0f}}, n);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(h.segmentPivots[k], expected[k]) << "function " << k + 5;
}

// On the samples and on generated series: the segment ends of analyze's
// JSON, made a signal with their prices, through the pivot routine.
TEST(SegmentPivots, ThePivotRoutineOnTheSegmentEnds) {
    const vlm::testing::PluginLibrary dll(VLM_DLL_PLUGIN);
    std::vector<std::pair<std::string, vlmstruct::BarSeries>> series;
    for (const char* file : {"synthetic_daily_bars.csv", "synthetic_intraday_bars.csv"}) {
        series.emplace_back(file, vlmstruct::readBarFile(std::string(VLM_SOURCE_DIR) + "/data/" + file));
    }
    for (const vlm::testing::Shape shape : {vlm::testing::Shape::QuantisedWalk, vlm::testing::Shape::WithNaN,
                                            vlm::testing::Shape::ZeroAndNegative}) {
        const vlm::testing::Bars bars = vlm::testing::makeBars(shape, 20000, 8);
        vlmstruct::BarSeries s;
        s.high = bars.high;
        s.low = bars.low;
        series.emplace_back(vlm::testing::shapeName(shape), std::move(s));
    }
    int sampleZones = 0;
    for (const auto& [name, bars] : series) {
        SCOPED_TRACE(name);
        const std::size_t n = bars.size();
        const std::string json = vlmstruct::structuresJson(name, bars, vlmstruct::analyse(bars), false);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        std::vector<float> signal(n, 0.0f), high(n, nan), low(n, nan);
        for (const std::string& line : vlm::testing::jsonListLines(json, "segments")) {
            const auto bar = static_cast<std::size_t>(std::stol(vlm::testing::jsonField(line, "end_bar")));
            const bool top = vlm::testing::jsonField(line, "direction") == "1";
            signal[bar] = top ? 1.0f : -1.0f;
            (top ? high : low)[bar] = vlm::testing::cellFloat(vlm::testing::jsonField(line, "end_price"), nan);
        }
        std::vector<Zone> zones;
        for (const vlm::Pivot& p : vlm::CalcPivotList(signal, high, low)) {
            const bool sameTrend = !zones.empty() && zones.back().trend == p.trend;
            zones.push_back({p.start, p.end, p.upper, p.lower, p.trend, sameTrend ? zones.back().runCount + 1 : 1.0f});
        }
        if (name.rfind("synthetic", 0) == 0) sampleZones += static_cast<int>(zones.size());
        const std::vector<std::vector<float>> expected = outputsOf(zones, n);
        const HostCalls h = segmentPivots(dll, bars.high, bars.low);
        for (std::size_t k = 0; k < 5; ++k) {
            EXPECT_TRUE(sameBits(h.segmentPivots[k], expected[k])) << "function " << k + 5;
        }
    }
    EXPECT_GT(sampleZones, 0) << "the samples have no segment-level pivot to check";
}

}  // namespace
