#pragma once
// The chart page of several levels of one bar file.

#include <string>

#include "analysis/levels.h"

namespace vlmstruct {

// The chart of every level: a level selector, and over each level the next
// higher one's strokes, segments and pivots placed through the links.
std::string levelsChartHtml(const std::string& title, const Levels& levels, bool withOpenPivot,
                            const vlm::TradingPointOptions& points);

}  // namespace vlmstruct
