#pragma once
// How the trading points would have traded: the live signals (what the
// replay showed bar by bar), the hindsight signals (the points of the whole
// series), what each earned over a few horizons, statistics per class and
// horizon against a signal-free baseline, and a simple long-only rule's
// equity. docs/evaluation.md defines every number with a worked example.
//
// One file is evaluated on its own (Evaluate); the statistics are computed
// from any number of evaluated files (Summarise) and depend only on which
// files are given, not on their order, so one machine, a folder and a
// cluster give the same numbers.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "points/trading_points.h"

namespace vlm {

// A bar series as the evaluation reads it. `close` empty: the mid-price, as
// the points read it. `open` empty: entries at the close of the signal bar.
// `time` empty: no annualised figures. Prices are the series' 32-bit values;
// all arithmetic is in double.
struct EvaluationSeries {
    std::span<const float> open, high, low, close;
    std::span<const std::int64_t> time;  // one per bar, in units of secondsPerTimeUnit
    std::int64_t secondsPerTimeUnit = 86400;  // 86400: `time` counts days; 1: seconds
};

// How much of the simple rule's equity an evaluation keeps: the curves cost
// three doubles a bar, which only the report and Python draw.
enum class EquityDetail : std::uint8_t {
    None,        // neither curves nor statistics (they stay empty and zero)
    Statistics,  // the statistics, without the curves' values
    Curves,      // the statistics and the value at every bar
};

struct EvaluationOptions {
    std::vector<int> horizons{1, 5, 10, 20};  // bars after the signal bar, each at least 1, no repeats
    double costBp = 0.0;                      // round-trip cost in basis points, finite, at least 0
    TradingPointOptions points;
    EquityDetail equity = EquityDetail::Curves;
};
// Throws std::invalid_argument for options Evaluate would refuse.
void CheckEvaluationOptions(const EvaluationOptions& options);

enum class SignalMode : std::uint8_t { Live, Hindsight };

// One class of one point, as a trader would have acted on it.
struct Signal {
    SignalMode mode = SignalMode::Live;
    PointSide side = PointSide::Buy;
    std::int8_t pointClass = 1;       // 1 to 3
    std::int32_t pointBar = 0;        // p
    std::int32_t signalBar = 0;       // t: the bar after which it was newly shown (p in hindsight)
    std::int32_t entryBar = -1;       // t + 1 with opens, t without; -1: none (past the last bar, or no usable price)
    double entryPrice = std::numeric_limits<double>::quiet_NaN();
    std::int32_t withdrawnBar = -1;   // the first bar after which it was no longer shown; -1: shown at the last bar
    bool final = false;               // p carries this side and class among the hindsight points

    [[nodiscard]] std::int32_t delay() const { return signalBar - pointBar; }
    friend bool operator==(const Signal&, const Signal&) = default;
};

// A signal's result over one horizon h: NaN where there is none (the exit
// bar t + h past the last bar, no entry, or a price that is not usable).
struct Outcome {
    double ret = std::numeric_limits<double>::quiet_NaN();  // side x (exit / entry - 1) - cost
    double mfe = std::numeric_limits<double>::quiet_NaN();  // most favourable excursion, no cost
    double mae = std::numeric_limits<double>::quiet_NaN();  // most adverse excursion, no cost
};

// A buy entered at every bar, the same way as a signal: the sum of
// close[t + h] / entry - 1 over the bars that have both, and how many.
struct BaselineSum {
    double sum = 0.0;
    std::int64_t count = 0;
};

struct EquityStats {
    double totalReturn = 0.0;
    double annualReturn = std::numeric_limits<double>::quiet_NaN();  // NaN without two distinct dates
    double volatility = std::numeric_limits<double>::quiet_NaN();    // of the bar returns, annualised
    double sharpe = std::numeric_limits<double>::quiet_NaN();        // annualised, no risk-free rate
    double maxDrawdown = 0.0;  // the largest fall from a running peak, as a share of the peak
    double exposure = 0.0;     // share of the bars at whose close a position is held
    std::int64_t trades = 0;   // round trips
};

// The value of 1 invested, at the close of every bar (empty unless the
// options asked for the curves).
struct EquityCurve {
    std::vector<double> value;
    EquityStats stats;
};

struct FileEvaluation {
    std::vector<int> horizons;
    double costBp = 0.0;
    std::int64_t bars = 0;
    // Live signals ordered by signal bar, point bar, side and class, then the
    // hindsight signals by point bar, side and class.
    std::vector<Signal> signals;
    std::vector<Outcome> outcomes;       // signals.size() x horizons.size(), a signal's horizons together
    std::vector<BaselineSum> baseline;   // one per horizon
    EquityCurve live, hindsight, buyAndHold;

    [[nodiscard]] std::span<const Outcome> outcomesOf(std::size_t signal) const {
        return std::span<const Outcome>(outcomes).subspan(signal * horizons.size(), horizons.size());
    }
};

// Evaluates one series. The live signals come from the same bar-by-bar pass
// of the streaming engine and the point stream that the replay makes, so they
// are what a trader watching the bars arrive saw; the hindsight signals are
// the points of the whole series (what `analyze` shows). Throws
// std::invalid_argument for invalid options or series lengths that differ.
FileEvaluation Evaluate(const EvaluationSeries& series, const EvaluationOptions& options = {});

// A statistics row: one mode, one class (pointClass 0: every class of the
// side, the "B" and "S" rows) and one horizon. NaN where a value needs more
// signals than there are (a mean needs 1, a standard deviation 2).
struct StatisticsRow {
    SignalMode mode = SignalMode::Live;
    PointSide side = PointSide::Buy;
    int pointClass = 0;
    int horizon = 0;
    std::int64_t n = 0;
    double mean = kNaN, median = kNaN, std = kNaN, t = kNaN, winRate = kNaN, winLow = kNaN, winHigh = kNaN;
    double mfe = kNaN, mae = kNaN, baseline = kNaN, edge = kNaN;

private:
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
};

// The live signals of one class: how many, the share still shown at the last
// bar, the share final, the median delay and the median of withdrawn bar
// minus signal bar over those withdrawn.
struct SurvivalRow {
    PointSide side = PointSide::Buy;
    int pointClass = 1;
    std::int64_t signals = 0;
    double shownAtEnd = kNaN, finalShare = kNaN, medianDelay = kNaN, medianBarsToWithdrawal = kNaN;

private:
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
};

struct Summary {
    std::vector<int> horizons;
    // Per mode (live, hindsight), per class B1, B2, B3, S1, S2, S3, then B
    // and S, per horizon in the options' order.
    std::vector<StatisticsRow> statistics;
    // Per class B1 .. S3.
    std::vector<SurvivalRow> survival;
};

// The statistics of the signals of every file pooled. Any order of `files`
// gives the same bits: each number is computed from values sorted by value.
// Throws std::invalid_argument when the files differ in horizons or cost.
Summary Summarise(std::span<const FileEvaluation> files);
// The same over files held elsewhere, none null.
Summary Summarise(std::span<const FileEvaluation* const> files);

// "B1", "S3"; "B" and "S" for pointClass 0.
std::string ClassLabel(PointSide side, int pointClass);

}  // namespace vlm
