#pragma once
// Trading points bar by bar, driven by the streaming engine: after every
// bar, exactly CalcTradingPoints on the structures of the bars so far, and
// for every point the bar it appeared at and the bar it became final or was
// withdrawn.
//
// A point is final once every structure it rests on is final: its stroke
// ends, its pivot and the pivot's run count, the next pivot's start (which
// bounds the strokes the pivot owns), and the histogram of the bars of its
// strokes, which is final once those bars are pushed. The engine knows which
// stroke ends are final and the pivot its walk holds open after them, and no
// pivot listed later can start before that one (or, with none open, before
// the third final stroke end from the last). Points up to the stroke end just
// after that start rest on final structures only, so they are final.
//
// Each bar the per-pivot evaluation of the batch routine runs again over the
// pivots whose points may still change: the last final pivot, resumed from
// its scan over the strokes no bar can change, and the pivots after it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "points/trading_points.h"
#include "state/state.h"
#include "stream/streaming_engine.h"

namespace vlm {

// A point as shown, with its life so far. Any change to any field of the
// point is its withdrawal and the appearance of another.
struct ShownPoint {
    TradingPoint point;
    std::int32_t appearedBar = -1;
    std::int32_t finalBar = -1;      // -1 while a later bar may still change it
    std::int32_t withdrawnBar = -1;  // -1 unless it was withdrawn

    friend bool operator==(const ShownPoint&, const ShownPoint&) = default;
};

enum class PointChange { Appeared, Final, Withdrawn };

struct PointEvent {
    PointChange change = PointChange::Appeared;
    ShownPoint point;  // as it stands after the change

    friend bool operator==(const PointEvent&, const PointEvent&) = default;
};

// What one push newly showed: of the points whose classes became shown
// (shown after the push and not before it), the one at the latest bar,
// holding only those classes. A point withdrawn and shown again at its bar
// brings only the classes it did not have; one whose side changed brings all
// of its classes. A point becoming final shows nothing new. Empty when no
// class became shown.
std::optional<TradingPoint> NewlyShown(std::span<const PointEvent> changes);

class TradingPointStream {
public:
    explicit TradingPointStream(TradingPointOptions options = {});

    // Call after every engine.push(high, low) with that bar's close as
    // PointsClose reads it. Throws std::logic_error unless the
    // engine holds exactly one bar more than the last call saw.
    void push(const StreamingEngine& engine, float close);

    // The same after engine.pushProvisional: the points read as after a
    // push, and the next push of either kind (or takeBackProvisional)
    // first takes this one back, as the engine takes its bar back.
    void pushProvisional(const StreamingEngine& engine, float close);
    void takeBackProvisional();
    // Room for a series of `bars` bars, as StreamingEngine::reserve, so that
    // no push moves the histogram or the lists of points while they grow:
    // the histogram's exactly, and the final and withdrawn points' as many
    // as the series can have stroke ends (usually more than they come to).
    void reserve(std::size_t bars);

    // The points of the bars so far, in bar order: the final ones, then
    // those a later bar may still change.
    [[nodiscard]] std::span<const ShownPoint> finalPoints() const { return final_; }
    [[nodiscard]] std::span<const ShownPoint> pendingPoints() const { return pending_; }
    [[nodiscard]] std::vector<TradingPoint> points() const;
    // Every point withdrawn so far, in the order of withdrawal.
    [[nodiscard]] std::span<const ShownPoint> withdrawn() const { return withdrawn_; }
    // What the last push changed: appearances, then points become final,
    // then withdrawals, each in bar order.
    [[nodiscard]] std::span<const PointEvent> changes() const { return changes_; }
    // Every point at or before this bar is final (-1: none yet).
    [[nodiscard]] std::int64_t finalThrough() const { return finalThrough_; }
    [[nodiscard]] std::span<const double> histogram() const { return histogram_; }
    [[nodiscard]] const TradingPointOptions& options() const { return options_; }

    // Every field, so a bar taken back can be told from none pushed.
    friend bool operator==(const TradingPointStream&, const TradingPointStream&) = default;

    // Whether a state read back from bytes could be this stream's after the
    // bars `engine` holds (see StreamingEngine::fits), as far as what a later
    // push reads goes; and so after a provisional bar is taken back from
    // both.
    [[nodiscard]] bool fits(const StreamingEngine& engine) const;

private:
    void evaluate(const StreamingEngine& engine, std::int32_t bar, std::int64_t wasFinalThrough);
    void settle(std::int32_t bar);
    void advanceFirstOpen(const StreamingEngine& engine, std::int64_t settledStart);
    [[nodiscard]] bool structuresUnchanged(const StreamingEngine& engine) const;
    void rememberStructures(const StreamingEngine& engine);


public:
    // Everything a push can change (see state/state.h): the lists that only
    // grow by their length, the rest whole (the pending points and the
    // pivots last read are few). The scratch lists are not state.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.macd_);
        v(state::Settled(self.histogram_, self.histogram_.size()));
        v(state::Settled(self.final_, self.final_.size()));
        v(self.pending_);
        v(state::Settled(self.withdrawn_, self.withdrawn_.size()));
        v(self.changes_);
        v(self.finalThrough_);
        v(self.firstOpen_);
        v(self.scan_);
        v(self.openStart_);
        v(self.openStartIndex_);
        v(self.evaluated_);
        v(self.seenEnds_);
        v(self.seenLastEnds_);
        v(self.seenPivots_);
        v(self.seenFrom_);
        v(self.seenUnderWay_);
        v(self.seenTailPivots_);
        v(self.memo_);
        v(self.provisional_);
    }

private:
    void append(const StreamingEngine& engine, float close);

    TradingPointOptions options_;
    Macd macd_;
    std::vector<double> histogram_;
    std::vector<ShownPoint> final_;
    std::vector<ShownPoint> pending_;
    std::vector<ShownPoint> withdrawn_;
    std::vector<PointEvent> changes_;
    std::int64_t finalThrough_ = -1;
    // The first listed pivot whose points may still change, and, once it is
    // final, its scan over the strokes that no later bar can change.
    std::size_t firstOpen_ = 0;
    std::optional<PivotScan> scan_;
    // Where the pivot the walk holds open starts, among the stroke ends.
    std::int32_t openStart_ = -1;
    std::int64_t openStartIndex_ = 0;
    // What the last evaluation read, to skip bars that changed no structure.
    bool evaluated_ = false;
    std::size_t seenEnds_ = 0;
    std::array<TurningPoint, 2> seenLastEnds_{};
    std::size_t seenPivots_ = 0;
    std::size_t seenFrom_ = 0;
    bool seenUnderWay_ = false;
    std::vector<PointPivot> seenTailPivots_;
    // Room reused within one push, holding nothing between pushes: not
    // state, so never kept and equal to any other.
    struct Scratch {
        std::vector<PointPivot> tailPivots;  // the pivots evaluated
        std::vector<TradingPoint> fresh;     // their points
        std::vector<PointEvent> withdrawnNow;  // listed after the other changes
        std::vector<ShownPoint> nextPending;
        friend bool operator==(const Scratch&, const Scratch&) { return true; }
    };
    Scratch scratch_;
    ForceMemo memo_;
    state::Provisional provisional_;  // takes a provisional bar back
};


// Every point shown while the bars of a series are pushed one by one, with
// its life: final ones, withdrawn ones, and those still pending at the end,
// ordered by the bar they appeared at, then by their bar.
std::vector<ShownPoint> StreamTradingPoints(std::span<const float> high, std::span<const float> low,
                                            std::span<const float> close,
                                            const TradingPointOptions& options = {});

}  // namespace vlm
