#include "stream/replay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "kline/bar_count.h"
#include "pivot/pivot_outputs.h"
#include "stream/missing_value.h"

namespace vlm {

namespace {

EventSubject subjectOf(MarkSeries series) { return static_cast<EventSubject>(series); }

bool samePivotUnderWay(const Pivot& a, const Pivot& b) {
    // The walk keeps start, bounds and trend while a pivot stays open.
    return a.start == b.start && a.trend == b.trend && a.upper == b.upper && a.lower == b.lower;
}

// Field by field into its place: a small struct returned by value was
// stored in pieces and read back whole, a stall on every mark.
void setMarkState(MarkState& out, const StreamingEngine& engine, const SignalMark& mark) {
    const TurningPoint point = engine.pointOf(mark);
    out.bar = point.bar;
    out.direction = mark.value;
    out.price = point.price;
}

}  // namespace

float closeAgainst(float close, const Pivot& pivot) {
    if (std::isnan(close)) return kNaN;
    if (close > pivot.upper) return 1.0f;
    if (close < pivot.lower) return -1.0f;
    return 0.0f;
}


void Replay::shownTail(Shown& shown) const {
    for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
        const auto series = static_cast<MarkSeries>(s);
        const std::span<const SignalMark> marks = engine_.marks(series);
        shown.finals[s] = engine_.finalMarks(series);
        shown.tails[s].assign(marks.begin() + static_cast<std::ptrdiff_t>(shown.finals[s]), marks.end());
    }
    const std::span<const PivotClose> closes = engine_.closes();
    shown.finalCloses = engine_.finalCloses();
    shown.closeTail.assign(closes.begin() + static_cast<std::ptrdiff_t>(shown.finalCloses), closes.end());
    shown.underWay = engine_.pivotUnderWay();
}

void Replay::push(float high, float low, float close) {
    // Only what was not final can have changed: the tails before and after
    // are compared place by place.
    Shown& before = before_;  // reused: no allocation per bar once grown
    shownTail(before);
    engine_.push(high, low);
    events_.clear();
    for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
        markEvents(before, static_cast<MarkSeries>(s));
    }
    pivotEvents(before);
    asOf_ = AsOfRowOf(engine_, close);
}

bool AsOfRowFits(const AsOfRow& row) {
    return state::ValidBool(row.lastPivot.present) && state::ValidBool(row.pivotUnderWay.present);
}

bool Replay::fits() const {
    for (const ReplayEvent& e : events_) {
        if (!state::EnumWithin(e.subject, EventSubject::PivotUnderWay) || !state::EnumWithin(e.kind, EventKind::Extended)) {
            return false;
        }
    }
    return AsOfRowFits(asOf_) && engine_.fits();
}

ReplayEvent Replay::markEvent(MarkSeries series, EventKind kind, const SignalMark& mark,
                              std::int32_t from) const {
    ReplayEvent e;
    e.bar = static_cast<std::int32_t>(engine_.size() - 1);
    e.subject = subjectOf(series);
    e.kind = kind;
    const TurningPoint point = engine_.pointOf(mark);
    e.at = point.bar;
    e.from = from;
    e.direction = mark.value;
    e.price = point.price;
    return e;
}

void Replay::markEvents(const Shown& before, MarkSeries series) {
    const auto s = static_cast<std::size_t>(series);
    const std::span<const SignalMark> now = engine_.marks(series);
    const std::vector<SignalMark>& old = before.tails[s];
    const std::size_t from = before.finals[s];
    const std::size_t newCount = now.size() - from;
    for (std::size_t j = 0; j < std::max(old.size(), newCount); ++j) {
        const SignalMark* a = j < old.size() ? &old[j] : nullptr;
        const SignalMark* b = j < newCount ? &now[from + j] : nullptr;
        if (a != nullptr && b != nullptr && *a == *b) continue;
        if (a != nullptr && b != nullptr && a->value == b->value) {
            events_.push_back(markEvent(series, EventKind::Moved, *b, static_cast<std::int32_t>(a->bar)));
            continue;
        }
        if (a != nullptr) events_.push_back(markEvent(series, EventKind::Vanished, *a));
        if (b != nullptr) events_.push_back(markEvent(series, EventKind::Appeared, *b));
    }
    for (std::size_t k = from; k < engine_.finalMarks(series); ++k) {
        events_.push_back(markEvent(series, EventKind::Confirmed, now[k]));
    }
}

void Replay::pivotEvents(const Shown& before) {
    const auto bar = static_cast<std::int32_t>(engine_.size() - 1);
    const auto pivotEvent = [&](EventSubject subject, EventKind kind, const Pivot& p) {
        ReplayEvent e;
        e.bar = bar;
        e.subject = subject;
        e.kind = kind;
        e.direction = p.trend;
        e.pivot = p;
        events_.push_back(e);
    };
    const std::span<const PivotClose> now = engine_.closes();
    const std::vector<PivotClose>& old = before.closeTail;
    const std::size_t newCount = now.size() - before.finalCloses;
    bool underWayClosed = false;
    for (std::size_t j = 0; j < std::max(old.size(), newCount); ++j) {
        const PivotClose* a = j < old.size() ? &old[j] : nullptr;
        const PivotClose* b = j < newCount ? &now[before.finalCloses + j] : nullptr;
        if (a != nullptr && b != nullptr && *a == *b) continue;
        if (a != nullptr) pivotEvent(EventSubject::Pivot, EventKind::Withdrawn, a->pivot);
        if (b != nullptr) {
            pivotEvent(EventSubject::Pivot, b->retained ? EventKind::Closed : EventKind::Dropped, b->pivot);
            underWayClosed = underWayClosed || (before.underWay && before.underWay->start == b->pivot.start);
        }
    }
    const std::optional<Pivot>& was = before.underWay;
    const std::optional<Pivot>& is = engine_.pivotUnderWay();
    // A close of the pivot under way ends it (a reader sees the close's start
    // match); anything shown after that is a new pivot under way.
    const bool same = was && is && !underWayClosed && samePivotUnderWay(*was, *is);
    if (was && !same && !underWayClosed) pivotEvent(EventSubject::PivotUnderWay, EventKind::Withdrawn, *was);
    if (is && !same) pivotEvent(EventSubject::PivotUnderWay, EventKind::Opened, *is);
    if (same && was->end != is->end) pivotEvent(EventSubject::PivotUnderWay, EventKind::Extended, *is);
}

MarkState LastFinalMark(const StreamingEngine& engine, MarkSeries series) {
    MarkState out;
    if (const std::size_t final = engine.finalMarks(series); final > 0) {
        setMarkState(out, engine, engine.marks(series)[final - 1]);
    }
    return out;
}

PivotState LatestPivot(const StreamingEngine& engine) {
    const ZhongShuList& pivots = engine.pivots();
    if (pivots.empty()) return {};
    return {true, pivots.back(), engine.runCounts().back()};
}

AsOfRow AsOfRowOf(const StreamingEngine& engine, float close) {
    AsOfRow row;
    row.bar = static_cast<std::int32_t>(engine.size() - 1);
    row.close = close;
    for (std::size_t k = 0; k < kAsOfSeries.size(); ++k) {
        const std::span<const SignalMark> marks = engine.marks(kAsOfSeries[k]);
        if (!marks.empty()) setMarkState(row.inProgress[k], engine, marks.back());
        row.lastFinal[k] = LastFinalMark(engine, kAsOfSeries[k]);
    }
    const ZhongShuList& pivots = engine.pivots();
    row.closeVsLastPivot = kNaN;
    row.closeVsPivotUnderWay = kNaN;
    row.lastPivot = LatestPivot(engine);
    if (!pivots.empty()) row.closeVsLastPivot = closeAgainst(close, pivots.back());
    if (const std::optional<Pivot>& open = engine.pivotUnderWay()) {
        // The run count it will have once listed, if nothing closes before it.
        const float runCount = RunCountAfter(pivots, engine.runCounts(), *open);
        row.pivotUnderWay = {true, *open, runCount};
        row.closeVsPivotUnderWay = closeAgainst(close, *open);
    }
    return row;
}

ReplayLog ReplaySeries(std::span<const float> high, std::span<const float> low,
                       std::span<const float> close) {
    RequireLength("low", low.size(), high.size());
    RequireLength("close", close.size(), high.size(), true);
    ReplayLog log;
    log.rows.reserve(high.size());
    Replay replay;
    for (std::size_t i = 0; i < high.size(); ++i) {
        replay.push(high[i], low[i], close.empty() ? kNaN : close[i]);
        log.rows.push_back(replay.asOf());
        log.events.insert(log.events.end(), replay.events().begin(), replay.events().end());
    }
    return log;
}

}  // namespace vlm
