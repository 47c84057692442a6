#pragma once
// The self-contained HTML chart: candles, strokes, segments, pivot zones
// and trading points.

#include <string>

#include "analysis.h"
#include "points/trading_points.h"

namespace vlmstruct {

// `a` carries the points of `points`; the replay and which points are final
// come from the same options.
std::string chartHtml(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points = {});

// The chart data as a JavaScript object literal (also what replay pages use).
std::string chartData(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points = {});

}  // namespace vlmstruct
