#pragma once
// The self-contained HTML chart: candles, strokes, segments and pivot zones.

#include <string>

#include "analysis.h"

namespace vlmstruct {

std::string chartHtml(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot);

// The chart data as a JavaScript object literal (also what replay pages use).
std::string chartData(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot);

}  // namespace vlmstruct
