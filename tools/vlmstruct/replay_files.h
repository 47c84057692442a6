#pragma once
// The replay of a bar file as it happened, bar by bar: one as-of row per bar
// and every change the bar made, as CSV.

#include <string>

#include "bar_file.h"
#include "stream/replay.h"

namespace vlmstruct {

// Replays every bar of the file (the close, where the file has one, is placed
// against the pivots; without one those columns stay empty).
vlm::ReplayLog replayBars(const BarSeries& bars);

std::string asOfCsv(const BarSeries& bars, const vlm::ReplayLog& log);
std::string eventsCsv(const BarSeries& bars, const vlm::ReplayLog& log);

}  // namespace vlmstruct
