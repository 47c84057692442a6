#pragma once
// Trading points at the stroke level: the first-class point where a trend's
// last leg loses force against the leg that entered its pivot, the
// second-class point on the first pullback after it, and the third-class
// point where price leaves a pivot and the first pullback stays out.
// docs/trading-points.md states the rules with a worked example.
//
// Points are a function of three structures: the stroke ends (function 2),
// the pivots (the listed ones and the one under way, with run counts) and
// the MACD histogram of the closes. The batch routine takes them as given,
// so hand-built structures can be fed to it directly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "pivot/pivot_list.h"
#include "pivot/pivot_walk.h"
#include "points/macd.h"

namespace vlm {

// How a stroke's force is measured, over the bars after its start up to and
// including its end bar.
enum class ForceMeasure {
    Area,      // sum of |histogram| where the histogram has the stroke's sign
    FullArea,  // sum of |histogram| over every bar
    Peak,      // largest |histogram| of the stroke's sign (0 without one)
    Slope,     // |end price - start price| / bars from start to end
};
// "area", "full-area", "peak", "slope"; throws std::invalid_argument for a
// value that is none of them.
std::string_view ForceMeasureName(ForceMeasure measure);
std::optional<ForceMeasure> ParseForceMeasure(std::string_view name);

struct TradingPointOptions {
    MacdParams macd;
    ForceMeasure force = ForceMeasure::Area;
    // Pivots of a trend in a row, ending with the pivot, that a first-class
    // point needs: 2 is a trend, 1 also admits a single pivot.
    int class1MinRun = 2;
    // A first-class point needs leaving force < ratio x entering force.
    double divergenceRatio = 1.0;

    friend bool operator==(const TradingPointOptions&, const TradingPointOptions&) = default;
};
// Throws std::invalid_argument for periods below 1, a run below 1, or a
// ratio that is not a finite number above 0.
void CheckTradingPointOptions(const TradingPointOptions& options);

// A pivot as the points read it: the zone and function 9's run count (for
// the pivot under way, counted as if it were appended to the list).
struct PointPivot {
    Pivot pivot;
    float runCount = 0.0f;

    friend bool operator==(const PointPivot&, const PointPivot&) = default;
};

// The pivots of a list, then the pivot under way when there is one.
std::vector<PointPivot> PointPivots(std::span<const Pivot> listed, std::span<const float> runCounts,
                                    const std::optional<Pivot>& underWay);

// Stroke k runs from strokeEnds[k - 1] to strokeEnds[k]; it is an up stroke
// when it ends at a top.
struct PointStructures {
    std::span<const TurningPoint> strokeEnds;  // ascending bars, tops and bottoms alternating
    std::span<const PointPivot> pivots;        // in list order, the one under way last
    std::span<const double> histogram;         // one per bar, through the last stroke end
};

enum class PointSide : std::int8_t { Buy = 1, Sell = -1 };

// A bar can be several classes at once; each class keeps its own pivot.
inline constexpr std::uint8_t ClassBit(int pointClass) {
    return static_cast<std::uint8_t>(1u << (pointClass - 1));
}

struct TradingPoint {
    PointSide side = PointSide::Buy;  // buy at a bottom, sell at a top
    std::int32_t bar = 0;
    float price = 0.0f;  // the low at a bottom, the high at a top
    std::uint8_t classes = 0;  // ClassBit(1) | ClassBit(2) | ClassBit(3)
    // pivots[c - 1]: the pivot class c refers to (zeros for an absent class).
    std::array<PointPivot, 3> pivots{};
    // Class 1: the forces of the leaving and the entering stroke, and
    // leaving / entering.
    double leavingForce = 0.0;
    double enteringForce = 0.0;
    double forceRatio = 0.0;
    // Class 2: the bar of the first-class point it follows (-1 otherwise).
    std::int32_t follows = -1;

    [[nodiscard]] bool has(int pointClass) const { return (classes & ClassBit(pointClass)) != 0; }
    friend bool operator==(const TradingPoint&, const TradingPoint&) = default;
};

// The points, in bar order, one per bar. Throws std::invalid_argument for
// stroke ends out of order or not alternating, a histogram shorter than the
// last stroke end, or invalid options.
std::vector<TradingPoint> CalcTradingPoints(const PointStructures& structures,
                                            const TradingPointOptions& options = {});

// The structures of a bar series: function 2's stroke ends, the pivot list
// with the pivot under way, and the histogram of the closes as PointsClose
// reads them (`close` empty: a series without closes).
struct BarStructures {
    std::vector<TurningPoint> strokeEnds;
    std::vector<PointPivot> pivots;
    std::vector<double> histogram;
    bool pivotUnderWay = false;  // the last of `pivots` is the one under way

    [[nodiscard]] PointStructures view() const { return {strokeEnds, pivots, histogram}; }
    // The pivots that closed: all of `pivots` but the one under way.
    [[nodiscard]] std::span<const PointPivot> closedPivots() const {
        return std::span<const PointPivot>(pivots).first(pivots.size() - (pivotUnderWay ? 1 : 0));
    }
};
BarStructures StructuresOfBars(std::span<const float> high, std::span<const float> low,
                               std::span<const float> close, MacdParams macd = {});
// The same from function 2's stroke signal of these bars, already computed.
BarStructures StructuresOfSignal(std::span<const float> signal, std::span<const float> high,
                                 std::span<const float> low, std::span<const float> close,
                                 MacdParams macd = {});

// The points of a bar series, end to end.
std::vector<TradingPoint> CalcTradingPoints(std::span<const float> high, std::span<const float> low,
                                            std::span<const float> close,
                                            const TradingPointOptions& options = {});

// The close that stands in where a file has none.
inline float MidPrice(float high, float low) {
    return static_cast<float>((static_cast<double>(high) + static_cast<double>(low)) / 2.0);
}

// The close the points read at a bar, the one rule of every driver (the
// batch routine, the point stream, the replays): the bar's close as given,
// or the mid-price for a series without closes (nullopt). A close that is
// not a finite number stays as it is, and the averages hold over it (see
// Macd::advance): the mid-price never stands in for one bad close.
inline float PointsClose(std::optional<float> close, float high, float low) {
    return close ? *close : MidPrice(high, low);
}
// Bar i's close of a series that may have none (`close` empty).
inline std::optional<float> CloseAt(std::span<const float> close, std::size_t i) {
    return close.empty() ? std::nullopt : std::optional<float>(close[i]);
}

// ---- The pieces both drivers are built from -------------------------------

// The first of the ascending stroke ends at or after `bar` (ends.size()
// when none is). Searched from the last end back, in steps of the distance
// from it: the drivers ask about the latest pivots.
std::size_t FirstEndAtOrAfter(std::span<const TurningPoint> ends, std::int64_t bar);

// A stroke's force under `measure`; k >= 1 indexes its end. Throws
// std::invalid_argument for k out of range or a histogram that does not
// reach the stroke's end.
double StrokeForce(std::span<const TurningPoint> ends, std::size_t k,
                   std::span<const double> histogram, ForceMeasure measure);

// Forces of strokes that no later bar can change, kept for a driver that
// evaluates the same pivots bar after bar: a few slots, the oldest replaced.
class ForceMemo {
public:
    // The strokes ending at ends[0] .. ends[finalEnds - 1] are final.
    void setFinalEnds(std::size_t finalEnds) { finalEnds_ = finalEnds; }
    double force(std::span<const TurningPoint> ends, std::size_t k, std::span<const double> histogram,
                 ForceMeasure measure);

    friend bool operator==(const ForceMemo&, const ForceMemo&) = default;
    // Whether a state read back could be a memo's: its next slot is one.
    [[nodiscard]] bool fits() const { return nextSlot_ < slots_.size(); }

private:
    struct Slot {
        std::size_t k = 0;  // 0: empty (no stroke ends at ends[0])
        double force = 0.0;

        friend bool operator==(const Slot&, const Slot&) = default;
    };
    std::array<Slot, 4> slots_{};
    std::size_t nextSlot_ = 0;
    std::size_t finalEnds_ = 0;
};

// The search for one pivot's leaving strokes. It looks at the strokes that
// start at or after the pivot's end, in order, and keeps the first leaving
// stroke of each kind; it can stop and go on later, so a driver can keep it
// over strokes that no later bar changes and run a copy over the rest.
class PivotScan {
public:
    static constexpr std::int64_t kNoNextPivot = std::numeric_limits<std::int64_t>::max();

    PivotScan(std::span<const TurningPoint> ends, const PointPivot& pivot,
              const TradingPointOptions& options);

    // Looks at the strokes ending at ends[next()] up to ends[limit - 1] that
    // start no later than `lastStart` (the next pivot's start). Throws
    // std::invalid_argument for a limit past the ends.
    void advance(std::span<const TurningPoint> ends, std::size_t limit, std::int64_t lastStart);

    // Appends the pivot's points, one class each, in bar order. `ends` holds
    // at least the ends advanced over (std::invalid_argument otherwise).
    void emit(std::span<const TurningPoint> ends, std::span<const double> histogram,
              const TradingPointOptions& options, std::vector<TradingPoint>& out,
              ForceMemo* memo = nullptr) const;

    [[nodiscard]] std::size_t next() const { return next_; }
    [[nodiscard]] const PointPivot& pivot() const { return pivot_; }

    friend bool operator==(const PivotScan&, const PivotScan&) = default;

    // Whether a state read back could be a scan's over `ends` stroke ends:
    // every end it holds is one of them.
    [[nodiscard]] bool fits(std::size_t ends) const {
        const auto within = [ends](std::size_t k) { return k == kNone || k < ends; };
        for (const std::size_t k : found_) {
            if (!within(k)) return false;
        }
        return next_ >= 1 && within(entering_);
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    enum Search : std::size_t { kBuy3, kSell3, kBuy1, kSell1, kSearches };
    static constexpr std::uint8_t searchBit(Search s) { return static_cast<std::uint8_t>(1u << s); }

    PointPivot pivot_;
    std::size_t next_ = 0;                 // end index of the next stroke to look at
    std::size_t entering_ = kNone;         // end index of the entering stroke (class 1)
    std::array<std::size_t, kSearches> found_{kNone, kNone, kNone, kNone};
    std::uint8_t looking_ = 0;             // bit per search still under way
};

// Sorts single-class points by bar (stably) and joins those at one bar.
void JoinPoints(std::vector<TradingPoint>& points);

}  // namespace vlm
