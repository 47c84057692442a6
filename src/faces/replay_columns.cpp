#include "faces/replay_columns.h"

#include <algorithm>
#include <iterator>

#include "stream/missing_value.h"

namespace vlm {

namespace {

constexpr Column kAsOfColumns[] = {
    {"bar", ColumnKind::Whole},
    {"close", ColumnKind::Price},
    {"stroke_dir", ColumnKind::Code},
    {"stroke_bar", ColumnKind::Whole},
    {"stroke_price", ColumnKind::Price},
    {"stroke_final_dir", ColumnKind::Code},
    {"stroke_final_bar", ColumnKind::Whole},
    {"stroke_final_price", ColumnKind::Price},
    {"segment_dir", ColumnKind::Code},
    {"segment_bar", ColumnKind::Whole},
    {"segment_price", ColumnKind::Price},
    {"segment_final_dir", ColumnKind::Code},
    {"segment_final_bar", ColumnKind::Whole},
    {"segment_final_price", ColumnKind::Price},
    {"segment_no_pullback_dir", ColumnKind::Code},
    {"segment_no_pullback_bar", ColumnKind::Whole},
    {"segment_no_pullback_price", ColumnKind::Price},
    {"segment_no_pullback_final_dir", ColumnKind::Code},
    {"segment_no_pullback_final_bar", ColumnKind::Whole},
    {"segment_no_pullback_final_price", ColumnKind::Price},
    {"pivot_start", ColumnKind::Whole},
    {"pivot_end", ColumnKind::Whole},
    {"pivot_upper", ColumnKind::Price},
    {"pivot_lower", ColumnKind::Price},
    {"pivot_trend", ColumnKind::Code},
    {"pivot_run_count", ColumnKind::Whole},
    {"close_vs_pivot", ColumnKind::Code},
    {"under_way_start", ColumnKind::Whole},
    {"under_way_end", ColumnKind::Whole},
    {"under_way_upper", ColumnKind::Price},
    {"under_way_lower", ColumnKind::Price},
    {"under_way_trend", ColumnKind::Code},
    {"under_way_run_count", ColumnKind::Whole},
    {"close_vs_under_way", ColumnKind::Code},
};

// Bar and close, two marks per series, two pivots.
static_assert(std::size(kAsOfColumns) == 2 + 6 * kAsOfSeries.size() + 2 * 7);

constexpr Column kEventColumns[] = {
    {"bar", ColumnKind::Whole},         {"at_bar", ColumnKind::Whole},
    {"from_bar", ColumnKind::Whole},    {"direction", ColumnKind::Code},
    {"price", ColumnKind::Price},     {"pivot_start", ColumnKind::Whole},
    {"pivot_end", ColumnKind::Whole},   {"pivot_upper", ColumnKind::Price},
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

namespace {

constexpr Column kPointAsOfColumns[] = {
    {"point_side", ColumnKind::Code},  {"point_classes", ColumnKind::Code},
    {"point_bar", ColumnKind::Whole},    {"point_price", ColumnKind::Price},
    {"point_final", ColumnKind::Code},
};

constexpr Column kPointEventColumns[] = {
    {"point_side", ColumnKind::Code},
    {"point_classes", ColumnKind::Code},
    {"point_follows_bar", ColumnKind::Whole},
    {"point_leaving_force", ColumnKind::Price},
    {"point_entering_force", ColumnKind::Price},
    {"point_force_ratio", ColumnKind::Price},
};


}  // namespace

std::span<const Column> PointAsOfColumns() { return kPointAsOfColumns; }
std::span<const Column> PointEventColumns() { return kPointEventColumns; }

void PointAsOfValues(const PointAsOf& row, std::span<double> out) {
    const TradingPoint& p = row.point;
    const bool on = row.present;
    const double values[] = {
        orNaN(on, static_cast<double>(p.side)), orNaN(on, PointClassesCode(p)), orNaN(on, p.bar),
        orNaN(on, p.price), orNaN(on, row.final ? 1.0 : 0.0),
    };
    static_assert(std::size(values) == std::size(kPointAsOfColumns));
    std::copy(std::begin(values), std::end(values), out.begin());
}

void PointEventValues(const PointReplayEvent& e, std::span<double> out) {
    const TradingPoint& p = e.point.point;
    const Pivot& z = PointPivotOf(p).pivot;
    const double shared[] = {
        static_cast<double>(e.bar), static_cast<double>(p.bar), kNaN,
        p.side == PointSide::Sell ? 1.0 : -1.0, p.price, static_cast<double>(z.start),
        static_cast<double>(z.end), z.upper, z.lower,
    };
    const double own[] = {
        static_cast<double>(p.side), static_cast<double>(PointClassesCode(p)),
        orNaN(p.has(2), p.follows),  orNaN(p.has(1), p.leavingForce),
        orNaN(p.has(1), p.enteringForce), orNaN(p.has(1), p.forceRatio),
    };
    static_assert(std::size(own) == std::size(kPointEventColumns));
    // The shared part follows EventColumns(): bar, at_bar, from_bar,
    // direction, price, pivot_start, pivot_end, pivot_upper, pivot_lower.
    const std::size_t n = EventColumns().size();
    std::copy(std::begin(shared), std::begin(shared) + static_cast<std::ptrdiff_t>(n), out.begin());
    std::copy(std::begin(own), std::end(own), out.begin() + static_cast<std::ptrdiff_t>(n));
}

void StructureEventValues(const ReplayEvent& e, std::span<double> out) {
    const std::size_t n = EventColumns().size();
    EventValues(e, out.first(n));
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), kNaN);
}

}  // namespace vlm
