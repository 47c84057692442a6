#include "stream/replay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "kline/bar_count.h"
#include "pivot/pivot_outputs.h"
#include "stream/event_text.h"
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

const char* subjectName(EventSubject subject) {
    switch (subject) {
        case EventSubject::TurningPoint: return "turning_point";
        case EventSubject::Stroke: return "stroke";
        case EventSubject::Segment: return "segment";
        case EventSubject::SegmentNoPullback: return "segment_no_pullback";
        case EventSubject::Pivot: return "pivot";
        case EventSubject::PivotUnderWay: return "pivot_under_way";
    }
    return "";
}

const char* kindName(EventKind kind) {
    switch (kind) {
        case EventKind::Appeared: return "appeared";
        case EventKind::Moved: return "moved";
        case EventKind::Vanished: return "vanished";
        case EventKind::Confirmed: return "confirmed";
        case EventKind::Closed: return "closed";
        case EventKind::Dropped: return "dropped";
        case EventKind::Withdrawn: return "withdrawn";
        case EventKind::Opened: return "opened";
        case EventKind::Extended: return "extended";
    }
    return "";
}

char* describe(char* out, const ReplayEvent& e, FloatText* floats) {
    static constexpr std::string_view kSubjectText[] = {"turning point", "stroke", "segment",
                                                        "segment (no pullback)", "pivot",
                                                        "pivot under way"};
    EventText t(out, floats);
    t.text(kSubjectText[static_cast<int>(e.subject)]);
    if (e.subject == EventSubject::Pivot || e.subject == EventSubject::PivotUnderWay) {
        const Pivot& p = e.pivot;
        t.text(" [").integer(p.start).text(", ").integer(p.end).text("]");
        const auto zone = [&] {
            t.text(" (").number(p.lower).text(" to ").number(p.upper).text(", ");
            t.text(p.trend > 0.0f ? "rising)" : "falling)");
        };
        switch (e.kind) {
            case EventKind::Closed: t.text(" closed, retained"); zone(); break;
            case EventKind::Dropped: t.text(" closed, dropped"); zone(); break;
            case EventKind::Opened: t.text(" opened"); zone(); break;
            case EventKind::Extended: t.text(" extended to bar ").integer(p.end); break;
            default: t.text(" ").text(kindName(e.kind));
        }
        return t.end();
    }
    t.text(e.direction > 0.0f ? " top" : " bottom");
    if (e.kind == EventKind::Moved) {
        t.text(" moved from bar ").integer(e.from).text(" to bar ").integer(e.at);
    } else {
        t.text(" at bar ").integer(e.at).text(" ").text(kindName(e.kind));
    }
    t.text(" (").number(e.price).text(")");
    return t.end();
}

std::string describe(const ReplayEvent& e) {
    char text[kEventTextSize];
    return {text, describe(text, e)};
}

float closeAgainst(float close, const Pivot& pivot) {
    if (std::isnan(close)) return kNaN;
    if (close > pivot.upper) return 1.0f;
    if (close < pivot.lower) return -1.0f;
    return 0.0f;
}

namespace {

constexpr Column kAsOfColumns[] = {
    {"bar", ColumnKind::Bar},
    {"close", ColumnKind::Price},
    {"stroke_dir", ColumnKind::Code},
    {"stroke_bar", ColumnKind::Bar},
    {"stroke_price", ColumnKind::Price},
    {"stroke_final_dir", ColumnKind::Code},
    {"stroke_final_bar", ColumnKind::Bar},
    {"stroke_final_price", ColumnKind::Price},
    {"segment_dir", ColumnKind::Code},
    {"segment_bar", ColumnKind::Bar},
    {"segment_price", ColumnKind::Price},
    {"segment_final_dir", ColumnKind::Code},
    {"segment_final_bar", ColumnKind::Bar},
    {"segment_final_price", ColumnKind::Price},
    {"segment_no_pullback_dir", ColumnKind::Code},
    {"segment_no_pullback_bar", ColumnKind::Bar},
    {"segment_no_pullback_price", ColumnKind::Price},
    {"segment_no_pullback_final_dir", ColumnKind::Code},
    {"segment_no_pullback_final_bar", ColumnKind::Bar},
    {"segment_no_pullback_final_price", ColumnKind::Price},
    {"pivot_start", ColumnKind::Bar},
    {"pivot_end", ColumnKind::Bar},
    {"pivot_upper", ColumnKind::Price},
    {"pivot_lower", ColumnKind::Price},
    {"pivot_trend", ColumnKind::Code},
    {"pivot_run_count", ColumnKind::Bar},
    {"close_vs_pivot", ColumnKind::Code},
    {"under_way_start", ColumnKind::Bar},
    {"under_way_end", ColumnKind::Bar},
    {"under_way_upper", ColumnKind::Price},
    {"under_way_lower", ColumnKind::Price},
    {"under_way_trend", ColumnKind::Code},
    {"under_way_run_count", ColumnKind::Bar},
    {"close_vs_under_way", ColumnKind::Code},
};

// Bar and close, two marks per series, two pivots.
static_assert(std::size(kAsOfColumns) == 2 + 6 * kAsOfSeries.size() + 2 * 7);

constexpr Column kEventColumns[] = {
    {"bar", ColumnKind::Bar},         {"at_bar", ColumnKind::Bar},
    {"from_bar", ColumnKind::Bar},    {"direction", ColumnKind::Code},
    {"price", ColumnKind::Price},     {"pivot_start", ColumnKind::Bar},
    {"pivot_end", ColumnKind::Bar},   {"pivot_upper", ColumnKind::Price},
    {"pivot_lower", ColumnKind::Price},
};

double* putMark(double* o, const MarkState& m) {
    *o++ = orNaN(m.bar >= 0, m.direction);
    *o++ = orNaN(m.bar >= 0, m.bar);
    *o++ = orNaN(m.bar >= 0, m.price);
    return o;
}

double* putPivot(double* o, const PivotState& p, float closeVs) {
    *o++ = orNaN(p.present, p.pivot.start);
    *o++ = orNaN(p.present, p.pivot.end);
    *o++ = orNaN(p.present, p.pivot.upper);
    *o++ = orNaN(p.present, p.pivot.lower);
    *o++ = orNaN(p.present, p.pivot.trend);
    *o++ = orNaN(p.present, p.runCount);
    *o++ = closeVs;
    return o;
}

}  // namespace

std::span<const Column> AsOfColumns() { return kAsOfColumns; }
std::span<const Column> EventColumns() { return kEventColumns; }

void AsOfValues(const AsOfRow& row, std::span<double> out) {
    double* o = out.data();
    *o++ = row.bar;
    *o++ = row.close;
    for (std::size_t k = 0; k < kAsOfSeries.size(); ++k) {
        o = putMark(o, row.inProgress[k]);
        o = putMark(o, row.lastFinal[k]);
    }
    o = putPivot(o, row.lastPivot, row.closeVsLastPivot);
    putPivot(o, row.pivotUnderWay, row.closeVsPivotUnderWay);
}

void EventValues(const ReplayEvent& e, std::span<double> out) {
    const bool pivot = e.subject == EventSubject::Pivot || e.subject == EventSubject::PivotUnderWay;
    const double values[] = {
        static_cast<double>(e.bar),  orNaN(!pivot, e.at),         orNaN(e.from >= 0, e.from),
        e.direction,                 orNaN(!pivot, e.price),      orNaN(pivot, e.pivot.start),
        orNaN(pivot, e.pivot.end),   orNaN(pivot, e.pivot.upper), orNaN(pivot, e.pivot.lower),
    };
    std::copy(std::begin(values), std::end(values), out.begin());
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
