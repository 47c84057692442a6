#pragma once
// The replay of a bar file as it happened, bar by bar: one as-of row per bar
// and every change the bar made, as CSV.

#include <string>
#include <vector>

#include "barfile/bar_file.h"
#include "levels/resample.h"
#include "barfile/text_sink.h"
#include "points/point_replay.h"
#include "faces/replay_columns.h"

namespace vlmstruct {

// Replays every bar of the file with its trading points (the close, where the
// file has one, is placed against the pivots; without one those columns stay
// empty and the points read the mid-price).
vlm::PointReplayLog replayBars(const BarSeries& bars, const vlm::TradingPointOptions& points = {});

// The structures' columns, then the points' (AsOfColumns, PointAsOfColumns).
std::string asOfCsv(const BarSeries& bars, const vlm::PointReplayLog& log);
// Structure and point events in one file, by bar (EventColumns, PointEventColumns).
std::string eventsCsv(const BarSeries& bars, const vlm::PointReplayLog& log);

// The same two files written as the bars are replayed, with no log kept
// (`events` may be null); returns how many events there were.
std::size_t writeReplay(const BarSeries& bars, const vlm::TradingPointOptions& points, TextSink& asOf,
                        TextSink* events);

// The replay across levels (vlm::levels::LevelReplay): per base bar its date,
// then for the base level and every period the as-of columns, prefixed by
// the level's name as `analyze --levels` names them, each computed from the
// base bars up to that bar only. A level the bars so far cannot make yet
// (bars farther apart than its period) has empty cells. Throws
// std::invalid_argument as analyseLevels does.
std::string levelsAsOfCsv(const BarSeries& bars, const std::vector<vlm::levels::Period>& periods,
                          const vlm::levels::ResampleOptions& resample, const vlm::TradingPointOptions& points = {});

}  // namespace vlmstruct
