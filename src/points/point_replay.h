#pragma once
// Replay with trading points: the structures' replay (vlm::Replay) and the
// points bar by bar (TradingPointStream) from one pass, and the columns both
// faces (files, data frames) write for them, named once here beside the
// structures' own AsOfColumns and EventColumns.

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

// "B1", "S3", "B2+B3": the side's letter and each class, in class order.
std::string PointLabel(const TradingPoint& point);
// The same text at `out`, which has room for kPointLabelSize characters;
// returns its end.
inline constexpr std::size_t kPointLabelSize = 8;  // "B1+B2+B3"
char* PointLabel(char* out, const TradingPoint& point);
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

// "trading_point": the subject written beside the structures' subjects.
inline constexpr const char* kPointSubject = "trading_point";
// "trading point B1 at bar 60 appeared (12.75)".
std::string describe(const PointReplayEvent& event);
// The same text at `out`, which has room for kEventTextSize characters,
// its numbers written by `floats` where one is given; returns its end.
char* describe(char* out, const PointReplayEvent& event, FloatText* floats = nullptr);

// Appended to AsOfColumns(): point_side (1 buy, -1 sell), point_classes (as
// PointClassesCode), point_bar, point_price, point_final (1 or 0).
std::span<const Column> PointAsOfColumns();
void PointAsOfValues(const PointAsOf& row, std::span<double> out);

// Appended to EventColumns(): point_side, point_classes, point_follows_bar,
// point_leaving_force, point_entering_force, point_force_ratio. A point
// event fills the shared columns too (at_bar and price of the point,
// direction 1 at a top and -1 at a bottom, pivot_* of its pivot); a
// structure event leaves the point columns empty.
std::span<const Column> PointEventColumns();
// Writes EventColumns().size() + PointEventColumns().size() values.
void PointEventValues(const PointReplayEvent& event, std::span<double> out);
void StructureEventValues(const ReplayEvent& event, std::span<double> out);

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
