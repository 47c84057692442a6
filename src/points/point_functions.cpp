#include "points/point_functions.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "kline/bar_count.h"
#include "points/point_replay.h"
#include "points/point_stream.h"
#include "points/trading_points.h"
#include "stream/replay.h"
#include "stream/streaming_engine.h"

namespace vlm {

namespace {

void requireInputs(const PointInputs& in, std::size_t bars, bool readsClose) {
    RequireBars(bars, in.high.size(), in.low.size());
    if (readsClose && in.close.size() < bars) {
        throw std::invalid_argument("the closes must cover every bar of the series");
    }
}

void publish(const std::vector<float>& values, std::span<float> out) noexcept {
    std::copy(values.begin(), values.end(), out.begin());
}

// Functions 1 and 7: a value at the bar of each point `analyze` shows.
template <class Value>
void publishPoints(const PointInputs& in, std::span<float> out, Value value) {
    requireInputs(in, out.size(), true);
    const std::size_t n = out.size();
    const std::vector<TradingPoint> points =
        CalcTradingPoints(in.high.first(n), in.low.first(n), in.close.first(n));
    std::vector<float> values(n, 0.0f);
    for (const TradingPoint& p : points) values[static_cast<std::size_t>(p.bar)] = value(p);
    publish(values, out);
}

// Functions 3 to 6: one value of the replay's as-of row after every bar.
template <class Value>
void publishAsOf(const PointInputs& in, std::span<float> out, Value value) {
    requireInputs(in, out.size(), false);
    const std::size_t n = out.size();
    StreamingEngine engine;
    engine.reserve(n);
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        engine.push(in.high[i], in.low[i]);
        values[i] = value(engine);
    }
    publish(values, out);
}

float finalDirection(const StreamingEngine& engine, MarkSeries series) {
    const MarkState mark = LastFinalMark(engine, series);
    return mark.bar >= 0 ? mark.direction : 0.0f;
}

}  // namespace

void RunPointCodes(const PointInputs& in, std::span<float> out) {
    publishPoints(in, out, [](const TradingPoint& p) { return static_cast<float>(SignedClassesCode(p)); });
}

void RunForceRatios(const PointInputs& in, std::span<float> out) {
    publishPoints(in, out, [](const TradingPoint& p) { return p.has(1) ? static_cast<float>(p.forceRatio) : 0.0f; });
}

void RunLivePoints(const PointInputs& in, std::span<float> out) {
    requireInputs(in, out.size(), true);
    const std::size_t n = out.size();
    StreamingEngine engine;
    engine.reserve(n);
    TradingPointStream points;
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        engine.push(in.high[i], in.low[i]);
        points.push(engine, in.close[i]);
        const std::optional<TradingPoint> shown = NewlyShown(points.changes());
        values[i] = shown ? static_cast<float>(SignedClassesCode(*shown)) : 0.0f;
    }
    publish(values, out);
}

void RunStrokeFinalDirection(const PointInputs& in, std::span<float> out) {
    publishAsOf(in, out, [](const StreamingEngine& e) { return finalDirection(e, MarkSeries::Strokes); });
}

void RunSegmentFinalDirection(const PointInputs& in, std::span<float> out) {
    publishAsOf(in, out, [](const StreamingEngine& e) { return finalDirection(e, MarkSeries::Segments); });
}

void RunAsOfPivotUpper(const PointInputs& in, std::span<float> out) {
    publishAsOf(in, out, [](const StreamingEngine& e) {
        const PivotState p = LatestPivot(e);
        return p.present ? p.pivot.upper : 0.0f;
    });
}

void RunAsOfPivotLower(const PointInputs& in, std::span<float> out) {
    publishAsOf(in, out, [](const StreamingEngine& e) {
        const PivotState p = LatestPivot(e);
        return p.present ? p.pivot.lower : 0.0f;
    });
}

}  // namespace vlm
