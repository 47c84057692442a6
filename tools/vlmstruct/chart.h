#pragma once
// The self-contained HTML chart: candles, strokes, segments, pivot zones
// and trading points, of one bar series or of several levels of one.

#include <string>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "points/trading_points.h"

namespace vlmstruct {

// One level of the page's data: its bars, outputs, structures, points and
// the recorded changes replay steps through, as packed columns (see
// chart_columns.h). `a` carries the points of `points`; the replay and which
// points are final come from the same options. `extra` is added to the
// object as it is (",\"key\":value..." or empty).
std::string chartLevel(const std::string& name, const BarSeries& bars, const Analysis& a, bool withOpenPivot,
                       const vlm::TradingPointOptions& points, const std::string& extra = "");

// The page around its data: {"title": ..., "levels": [chartLevel(...), ...]},
// finest first.
std::string chartPage(const std::string& title, const std::vector<std::string>& levels);

// What a host formula draws with both plug-ins, beside the chart's own
// structures: the pivots of segments (testVelmorDll's functions 5 to 9 given
// function 3's output) and the live points (testVelmorPoints' function 2,
// with its default options), as ",\"host\":{...}" for chartLevel's extra.
std::string companionLayer(const BarSeries& bars, const Analysis& a);

// The page with each placeholder replaced by its text; the placeholders are
// given from the template's last back to its first.
std::string fillPlaceholders(std::string page, std::initializer_list<std::pair<const char*, std::string_view>> fills);

// A page's <title>: the title with what HTML would read as markup replaced.
std::string pageTitle(const std::string& title);

// `companion` adds companionLayer.
std::string chartHtml(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points = {}, bool companion = false);

}  // namespace vlmstruct
