#pragma once
// Replay with trading points: the structures' replay (vlm::Replay) and the
// points bar by bar (TradingPointStream) from one pass. What the faces show
// of them (texts, labels, file columns) is in faces/.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "points/point_stream.h"
#include "points/trading_points.h"
#include "stream/replay.h"

namespace vlm {

// The classes as the digits of one number, in order: 1, 3, 23, 123.
int PointClassesCode(const TradingPoint& point);
// The classes code, positive for a buy and negative for a sell: 23 for
// B2+B3, -1 for S1.
int SignedClassesCode(const TradingPoint& point);
// The pivot a point refers to: that of its lowest class (with structures of
// the walk every class of a point refers to the same pivot).
const PointPivot& PointPivotOf(const TradingPoint& point);

// The latest point shown at a bar (the last in bar order), final or not.
struct PointAsOf {
    bool present = false;
    TradingPoint point;
    bool final = false;

    friend bool operator==(const PointAsOf&, const PointAsOf&) = default;
};

// What the as-of row shows of a stream's points.
PointAsOf LatestPoint(const TradingPointStream& points);

// A point event: bar is the bar whose arrival made the change; kind is
// Appeared, Confirmed (became final) or Withdrawn. Within a bar the
// withdrawals come first, then the appearances, then the confirmations, so
// that events applied in order, keyed by the point's bar, rebuild the points
// shown.
struct PointReplayEvent {
    std::int32_t bar = 0;
    EventKind kind = EventKind::Appeared;
    ShownPoint point;

    friend bool operator==(const PointReplayEvent&, const PointReplayEvent&) = default;
};



// The whole replay: one as-of row and one point row per bar, every event.
struct PointReplayLog : ReplayLog {
    std::vector<PointAsOf> points;              // one per bar
    std::vector<PointReplayEvent> pointEvents;  // in bar order
};

class PointReplay {
public:
    explicit PointReplay(TradingPointOptions options = {});

    // Pushes one bar: its close, or nullopt in a series without closes (the
    // structures then place no close). The points read it as PointsClose
    // does: a close that is not a finite number holds the averages.
    void push(float high, float low, std::optional<float> close);

    [[nodiscard]] const Replay& structures() const { return replay_; }
    [[nodiscard]] const TradingPointStream& points() const { return points_; }
    [[nodiscard]] std::span<const PointReplayEvent> pointEvents() const { return events_; }
    [[nodiscard]] PointAsOf pointAsOf() const;

    // Whether a state read back from bytes could be a replay's (see
    // StreamingEngine::fits).
    [[nodiscard]] bool fits() const;

    // Everything a push can change (see state/state.h).
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.replay_);
        v(self.points_);
        v(self.events_);
    }

private:
    Replay replay_;
    TradingPointStream points_;
    std::vector<PointReplayEvent> events_;
};

// What one bar of a replay made: its as-of rows and its events, the
// structures' before the points'. The references hold until the next bar.
struct ReplayedBar {
    const AsOfRow& row;
    const PointAsOf& point;
    std::span<const ReplayEvent> events;
    std::span<const PointReplayEvent> pointEvents;
};

// The replay handed over bar by bar, for a face that writes each bar where
// it belongs and keeps no log. `close` may be empty: the structures then
// place no close and the points read the mid-price. Throws
// std::invalid_argument for lows, or closes, not one per high.
void ReplayWithPoints(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                      const TradingPointOptions& options, const std::function<void(const ReplayedBar&)>& each);

// The same replay kept whole.
PointReplayLog ReplayWithPoints(std::span<const float> high, std::span<const float> low,
                                std::span<const float> close, const TradingPointOptions& options = {});

// The structures' events and the points' in one sequence: by bar, the
// structures' first within a bar (the order ReplayedBar hands them in).
// Either pointer is set.
struct ReplayEntry {
    const ReplayEvent* structure = nullptr;
    const PointReplayEvent* point = nullptr;
};
std::vector<ReplayEntry> MergedEvents(const PointReplayLog& log);

}  // namespace vlm
