#pragma once
// What `analyze` writes of one analysed series: the per-bar CSV and the JSON
// of its structures and trading points.

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "barfile/text_sink.h"

namespace vlmstruct {

// One trading point as the JSON `points` list writes it, and the list.
std::string pointJson(const vlm::TradingPoint& point, const BarSeries& bars);
std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars);

void writeAnalysisCsv(TextSink& out, const BarSeries& bars, const Analysis& a);
void writeStructuresJson(TextSink& out, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot);
// Into a string, for callers that want it whole.
std::string analysisCsv(const BarSeries& bars, const Analysis& a);
std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot);

}  // namespace vlmstruct