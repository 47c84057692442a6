// Every value of the companion plug-in is what the tool gives for the same
// bars: functions 1 and 7 read from analyze's per-bar file and JSON, 2 to 6
// from replay's as-of file and events file, on the sample files and on
// generated series. The plug-in is loaded as a host loads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "analysis/replay_files.h"
#include "plugin/tool_text.h"
#include "support/caller_fp.h"
#include "support/plugin_library.h"
#include "support/series_gen.h"

namespace {

using vlm::testing::CsvTable;
using vlm::testing::cellFloat;
using vlm::testing::sameBits;

struct Case {
    std::string name;
    vlmstruct::BarSeries bars;
};

// The two sample files, and generated series with closes at the high or the
// low (not a number only where that price is not).
std::vector<Case> cases() {
    std::vector<Case> out;
    for (const char* file : {"synthetic_daily_bars.csv", "synthetic_intraday_bars.csv"}) {
        out.push_back({file, vlmstruct::readBarFile(std::string(VLM_SOURCE_DIR) + "/data/" + file)});
    }
    std::uint32_t seed = 30;
    for (const vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        vlm::testing::Bars bars = vlm::testing::makeBars(shape, 2500, seed++);
        if (shape == vlm::testing::Shape::ZeroAndNegative) vlm::testing::addSpecialValues(bars.high, bars.low);
        vlmstruct::BarSeries s;
        s.high = bars.high;
        s.low = bars.low;
        s.close.resize(bars.size());
        for (std::size_t i = 0; i < bars.size(); ++i) s.close[i] = i % 3 == 0 ? bars.high[i] : bars.low[i];
        out.push_back({vlm::testing::shapeName(shape), std::move(s)});
    }
    return out;
}

// "B2+B3" -> 23, "S1" -> -1, "" -> 0: the classes as digits, signed by side.
float codeOfLabel(const std::string& label) {
    if (label.empty()) return 0.0f;
    std::string digits;
    for (std::size_t k = 1; k < label.size(); k += 3) digits += label[k];
    std::sort(digits.begin(), digits.end());
    return static_cast<float>(label[0] == 'B' ? std::stoi(digits) : -std::stoi(digits));
}

struct ToolOutputs {
    std::vector<std::vector<float>> functions;  // what each of the seven should be
};

ToolOutputs fromTool(const vlmstruct::BarSeries& bars) {
    const std::size_t n = bars.size();
    ToolOutputs tool;
    std::vector<std::vector<float>>& expected = tool.functions;
    expected.assign(7, std::vector<float>(n, 0.0f));

    // analyze: the trading_point column, and the points of the JSON.
    const vlmstruct::Analysis a = vlmstruct::analyse(bars);
    const CsvTable perBar = vlm::testing::parseCsv(vlmstruct::analysisCsv(bars, a));
    const std::size_t pointColumn = perBar.column("trading_point");
    for (std::size_t i = 0; i < n; ++i) expected[0][i] = codeOfLabel(perBar.rows[i][pointColumn]);
    const std::string json = vlmstruct::structuresJson("bars", bars, a, false);
    for (const std::string& line : vlm::testing::jsonListLines(json, "points")) {
        const std::string ratio = vlm::testing::jsonField(line, "force_ratio");
        const auto bar = static_cast<std::size_t>(std::stol(vlm::testing::jsonField(line, "bar")));
        // A double in the JSON, a float in the host's series.
        if (ratio != "null") expected[6][bar] = static_cast<float>(std::strtod(ratio.c_str(), nullptr));
    }

    // replay: the as-of columns, empty where there is nothing yet.
    const vlm::PointReplayLog log = vlmstruct::replayBars(bars);
    const CsvTable asOf = vlm::testing::parseCsv(vlmstruct::asOfCsv(bars, log));
    const char* asOfColumns[] = {"stroke_final_dir", "segment_final_dir", "pivot_upper", "pivot_lower"};
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t c = asOf.column(asOfColumns[k]);
        for (std::size_t i = 0; i < n; ++i) expected[2 + k][i] = cellFloat(asOf.rows[i][c]);
    }

    // replay's events: the points shown after every bar, rebuilt by applying
    // the point events in order, keyed by the point's bar; a class is newly
    // shown at bar t when it is shown after t and was not after t - 1.
    const CsvTable events = vlm::testing::parseCsv(vlmstruct::eventsCsv(bars, log), 1);
    const std::size_t subject = events.column("subject"), kind = events.column("event"),
                      barColumn = events.column("bar"), at = events.column("at_bar"),
                      side = events.column("point_side"), classes = events.column("point_classes");
    struct Shown {
        int side;
        std::string classes;  // digits
    };
    std::map<int, Shown> shown;
    std::size_t e = 0;
    for (std::size_t t = 0; t < n; ++t) {
        const std::map<int, Shown> before = shown;
        for (; e < events.rows.size() && std::stoul(events.rows[e][barColumn]) == t; ++e) {
            const std::vector<std::string>& row = events.rows[e];
            if (row[subject] != "trading_point") continue;
            const int pointBar = std::stoi(row[at]);
            if (row[kind] == "withdrawn") shown.erase(pointBar);
            if (row[kind] == "appeared") shown[pointBar] = {std::stoi(row[side]), row[classes]};
        }
        for (auto p = shown.rbegin(); p != shown.rend(); ++p) {
            const auto was = before.find(p->first);
            std::string fresh;
            for (char c : p->second.classes) {
                const bool had = was != before.end() && was->second.side == p->second.side &&
                                 was->second.classes.find(c) != std::string::npos;
                if (!had) fresh += c;
            }
            if (!fresh.empty()) {
                expected[1][t] = static_cast<float>(p->second.side * std::stoi(fresh));
                break;
            }
        }
    }
    return tool;
}

TEST(CompanionAgainstTheTool, EveryFunctionBitForBit) {
    const vlm::testing::PluginLibrary points(VLM_POINTS_PLUGIN);
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const ToolOutputs tool = fromTool(c.bars);
        for (int f = 1; f <= 7; ++f) {
            const std::vector<float> out = points.call(f, c.bars.high, c.bars.low, c.bars.close);
            const std::vector<float>& want = tool.functions[static_cast<std::size_t>(f - 1)];
            for (std::size_t i = 0; i < out.size(); ++i) {
                if (!sameBits(std::span<const float>(out).subspan(i, 1), std::span<const float>(want).subspan(i, 1))) {
                    ADD_FAILURE() << "function " << f << " at bar " << i << ": " << out[i] << ", the tool " << want[i];
                    break;
                }
            }
            // The samples show each kind of value: no comparison of zeros alone.
            if (c.name.rfind("synthetic_daily", 0) == 0) {
                EXPECT_GT(std::count_if(want.begin(), want.end(), [](float v) { return v != 0.0f; }), 0)
                    << "function " << f;
            }
        }
    }
}

}  // namespace
