#include "points/point_replay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "kline/bar_count.h"
#include "stream/missing_value.h"

namespace vlm {

int PointClassesCode(const TradingPoint& point) {
    int code = 0;
    for (int c = 1; c <= 3; ++c) {
        if (point.has(c)) code = code * 10 + c;
    }
    return code;
}

int SignedClassesCode(const TradingPoint& point) {
    return point.side == PointSide::Buy ? PointClassesCode(point) : -PointClassesCode(point);
}

const PointPivot& PointPivotOf(const TradingPoint& point) {
    for (int c = 1; c <= 3; ++c) {
        if (point.has(c)) return point.pivots[static_cast<std::size_t>(c - 1)];
    }
    return point.pivots[0];
}

PointReplay::PointReplay(TradingPointOptions options) : points_(options) {}

void PointReplay::push(float high, float low, std::optional<float> close) {
    replay_.push(high, low, close.value_or(kNaN));
    points_.push(replay_.engine(), PointsClose(close, high, low));
    events_.clear();
    const auto bar = static_cast<std::int32_t>(replay_.engine().size() - 1);
    // Withdrawals first: a point that changed is withdrawn and appears again
    // at the same bar, so a reader applying the events in order, keyed by
    // the point's bar, keeps the new one. Then appearances, then points
    // become final (a point can appear and be final at one bar).
    constexpr std::pair<PointChange, EventKind> kOrder[] = {{PointChange::Withdrawn, EventKind::Withdrawn},
                                                            {PointChange::Appeared, EventKind::Appeared},
                                                            {PointChange::Final, EventKind::Confirmed}};
    for (const auto& [change, kind] : kOrder) {
        for (const PointEvent& e : points_.changes()) {
            if (e.change == change) events_.push_back({bar, kind, e.point});
        }
    }
}

PointAsOf PointReplay::pointAsOf() const { return LatestPoint(points_); }

bool PointReplay::fits() const {
    for (const PointReplayEvent& e : events_) {
        if (!state::EnumWithin(e.kind, EventKind::Extended)) return false;
    }
    return replay_.fits() && points_.fits(replay_.engine());
}

PointAsOf LatestPoint(const TradingPointStream& points) {
    const std::span<const ShownPoint> pending = points.pendingPoints();
    const std::span<const ShownPoint> final = points.finalPoints();
    if (!pending.empty()) return {true, pending.back().point, false};
    if (!final.empty()) return {true, final.back().point, true};
    return {};
}

void ReplayWithPoints(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                      const TradingPointOptions& options, const std::function<void(const ReplayedBar&)>& each) {
    RequireLength("low", low.size(), high.size());
    RequireLength("close", close.size(), high.size(), true);
    PointReplay replay(options);
    for (std::size_t i = 0; i < high.size(); ++i) {
        replay.push(high[i], low[i], CloseAt(close, i));
        const PointAsOf point = replay.pointAsOf();
        each({replay.structures().asOf(), point, replay.structures().events(), replay.pointEvents()});
    }
}

PointReplayLog ReplayWithPoints(std::span<const float> high, std::span<const float> low,
                                std::span<const float> close, const TradingPointOptions& options) {
    PointReplayLog log;
    log.rows.reserve(high.size());
    log.points.reserve(high.size());
    ReplayWithPoints(high, low, close, options, [&log](const ReplayedBar& bar) {
        log.rows.push_back(bar.row);
        log.points.push_back(bar.point);
        log.events.insert(log.events.end(), bar.events.begin(), bar.events.end());
        log.pointEvents.insert(log.pointEvents.end(), bar.pointEvents.begin(), bar.pointEvents.end());
    });
    return log;
}

std::vector<ReplayEntry> MergedEvents(const PointReplayLog& log) {
    std::vector<ReplayEntry> out;
    out.reserve(log.events.size() + log.pointEvents.size());
    std::size_t s = 0, p = 0;
    while (s < log.events.size() || p < log.pointEvents.size()) {
        const bool structureFirst =
            p == log.pointEvents.size() || (s < log.events.size() && log.events[s].bar <= log.pointEvents[p].bar);
        if (structureFirst) {
            out.push_back({&log.events[s++], nullptr});
        } else {
            out.push_back({nullptr, &log.pointEvents[p++]});
        }
    }
    return out;
}

}  // namespace vlm
