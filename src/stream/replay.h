#pragma once
// What a backtest may read at bar t: the changes bar t made to what the
// functions show, and one as-of row of where the structures stood, both from
// bars 0..t only.

#include <array>
#include <optional>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "stream/streaming_engine.h"

namespace vlm {

// What an event is about: the four mark signals (functions 1 to 4), a closed
// pivot (functions 5 to 9), or the pivot still under way.
enum class EventSubject { TurningPoint, Stroke, Segment, SegmentNoPullback, Pivot, PivotUnderWay };

enum class EventKind {
    Appeared,   // a mark is shown that was not
    Moved,      // the same mark (same place in the list, same kind) at another bar
    Vanished,   // a mark shown at the bar before is gone
    Confirmed,  // a mark became final: no later bar can move or remove it
    Closed,     // a pivot closed and is listed
    Dropped,    // a pivot closed and the trim dropped it
    Withdrawn,  // a close or a pivot under way shown at the bar before is gone
    Opened,     // a pivot is under way that was not
    Extended,   // the pivot under way reaches a later bar
};

struct ReplayEvent {
    std::int32_t bar = 0;  // the bar whose arrival made the change
    EventSubject subject = EventSubject::Stroke;
    EventKind kind = EventKind::Appeared;
    // Marks: the bar of the mark, the bar it left (Moved, else -1), 1 top or
    // -1 bottom, and the high at a top or the low at a bottom.
    std::int32_t at = -1;
    std::int32_t from = -1;
    float direction = 0.0f;
    float price = 0.0f;
    // Pivot events: the pivot as shown (the previous one for Withdrawn).
    Pivot pivot{};

    friend bool operator==(const ReplayEvent&, const ReplayEvent&) = default;
};


// A mark as shown: bar -1 when there is none.
struct MarkState {
    std::int32_t bar = -1;
    float direction = 0.0f;
    float price = 0.0f;

    friend bool operator==(const MarkState&, const MarkState&) = default;
};

struct PivotState {
    bool present = false;
    Pivot pivot{};
    float runCount = 0.0f;  // what function 9 writes for it

    friend bool operator==(const PivotState&, const PivotState&) = default;
};

// Strokes, segments and segments without the pullback rule, in that order.
inline constexpr std::array<MarkSeries, 3> kAsOfSeries{MarkSeries::Strokes, MarkSeries::Segments,
                                                       MarkSeries::SegmentsNoPullback};

struct AsOfRow {
    std::int32_t bar = 0;
    // Per series of kAsOfSeries: the end of the one in progress (the last
    // mark shown) and the last final end (the last mark no bar can change).
    std::array<MarkState, 3> inProgress{};
    std::array<MarkState, 3> lastFinal{};
    PivotState lastPivot;      // the latest listed pivot
    PivotState pivotUnderWay;  // not listed by the host yet
    float close = 0.0f;
    // Where the close stands: 1 above the zone's upper bound, 0 within it
    // (bounds included), -1 below its lower bound, NaN without a zone or
    // without a close to place.
    float closeVsLastPivot = 0.0f;
    float closeVsPivotUnderWay = 0.0f;

};

float closeAgainst(float close, const Pivot& pivot);
// Whether a row read back from bytes holds values of their kinds.
bool AsOfRowFits(const AsOfRow& row);

// The as-of row of the engine's bars so far, its last bar's close placed
// against the pivots.
AsOfRow AsOfRowOf(const StreamingEngine& engine, float close);
// Pieces of that row, for a reader who wants one of them at every bar: the
// last final mark of a series (bar -1 while none is final), and the latest
// listed pivot.
MarkState LastFinalMark(const StreamingEngine& engine, MarkSeries series);
PivotState LatestPivot(const StreamingEngine& engine);


class Replay {
public:
    // Pushes one bar (its close only places it against the pivots) and
    // records its events and as-of row.
    void push(float high, float low, float close);

    // The events of the last bar pushed, and its as-of row.
    [[nodiscard]] std::span<const ReplayEvent> events() const { return events_; }
    [[nodiscard]] const AsOfRow& asOf() const { return asOf_; }
    [[nodiscard]] const StreamingEngine& engine() const { return engine_; }

    // Whether a state read back from bytes could be a replay's (see
    // StreamingEngine::fits): its events and row hold values of their kinds.
    [[nodiscard]] bool fits() const;

    // Everything a push can change (see state/state.h). What the tails were
    // before a push is room for the push alone, not state.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.engine_);
        v(self.events_);
        v(self.asOf_);
    }

private:
    struct Shown {
        std::array<std::vector<SignalMark>, kMarkSeriesCount> tails;
        std::array<std::size_t, kMarkSeriesCount> finals{};
        std::vector<PivotClose> closeTail;
        std::size_t finalCloses = 0;
        std::optional<Pivot> underWay;
    };
    void shownTail(Shown& shown) const;
    void markEvents(const Shown& before, MarkSeries series);
    void pivotEvents(const Shown& before);
    [[nodiscard]] ReplayEvent markEvent(MarkSeries series, EventKind kind, const SignalMark& mark,
                                        std::int32_t from = -1) const;

    StreamingEngine engine_;
    Shown before_;
    std::vector<ReplayEvent> events_;
    AsOfRow asOf_;
};

// The whole replay of a series: one as-of row per bar and every event.
struct ReplayLog {
    std::vector<AsOfRow> rows;
    std::vector<ReplayEvent> events;
};
// `close` may be empty (no close placed); throws std::invalid_argument for
// lows, or closes, not one per high.
ReplayLog ReplaySeries(std::span<const float> high, std::span<const float> low,
                       std::span<const float> close);

}  // namespace vlm
