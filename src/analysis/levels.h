#pragma once
// Several timeframes of one bar file: each level resampled from the base
// bars and analysed exactly as `analyze` analyses a file, and the links
// between consecutive levels.

#include <span>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "levels/links.h"
#include "levels/resample.h"

namespace vlmstruct {

// The base bars' name among the levels, in column prefixes and the JSON.
inline constexpr const char* kBaseLevelName = "base";

struct Level {
    vlm::levels::Period period;
    vlm::levels::LevelBars resampled;  // which base bars each bar holds, and whether the last is finished
    BarSeries bars;                    // as a bar file of this level would hold them
    Analysis analysis;
};

struct Levels {
    std::vector<Level> levels;  // finest first
    // links[k]: level k + 1 over level k.
    std::vector<vlm::levels::LevelLinks> links;
};

// The level's name: kBaseLevelName for the base, else its period's.
std::string levelName(const Levels& all, std::size_t k);

// "30min,day,week": the periods, finest first; throws UsageError for a name
// that is not a period or one given twice.
std::vector<vlm::levels::Period> parseLevels(const std::string& list);

// "YYYY-MM-DD HH:MM:SS" of a time in seconds; empty for a year outside 0 to 9999.
std::string secondsText(vlm::levels::Seconds t);
// Seconds of a bar file's date ("YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]").
vlm::levels::Seconds barTime(const std::string& date);
// barTime of every bar; empty without dates.
std::vector<vlm::levels::Seconds> barSeconds(const BarSeries& bars);

// The bars of one level, dated as a bar file of that level: intraday levels
// with the time of their last base bar, the others with its day.
BarSeries levelSeries(const vlm::levels::LevelBars& level, bool intraday);

// Throws std::invalid_argument for a base without dates, or bars too coarse
// for an intraday level.
Levels analyseLevels(const BarSeries& base, const std::vector<vlm::levels::Period>& periods,
                     const vlm::levels::ResampleOptions& resample,
                     const vlm::TradingPointOptions& points, bool withOpenPivot);
// The same with the bars' times given (seconds of civil time, ascending);
// the base's dates are not read.
Levels analyseLevels(const BarSeries& base, std::span<const vlm::levels::Seconds> time,
                     const std::vector<vlm::levels::Period>& periods, const vlm::levels::ResampleOptions& resample,
                     const vlm::TradingPointOptions& points, bool withOpenPivot);

// A level's bars as a bar file (date,open,high,low,close,volume): read back,
// it gives the same bars.
std::string levelBarsCsv(const BarSeries& bars);

// Per base bar: its date, then for every level the nine outputs and the
// trading point at the level bar that holds it, each column prefixed by the
// level's name; then for every level above the base `<level>_confirmed_by`:
// on the bars of a point that lower-level points of its side confirm (see
// LevelLinks::confirmations), the index of the latest of them in the level
// below's point list, empty elsewhere.
std::string levelsCsv(const BarSeries& base, const Levels& levels);

// Every level's structures, as `analyze --json` writes them, with its links
// to the level below and, for each point, the lower-level points that
// confirm it.
std::string levelsJson(const std::string& source, const Levels& levels, bool withOpenPivot);

}  // namespace vlmstruct
