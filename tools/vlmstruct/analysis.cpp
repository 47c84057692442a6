#include "analysis.h"

#include "pivot/pivot_outputs.h"
#include "segment/segment_signal.h"

namespace vlmstruct {

namespace {

Mark markOf(const vlm::TurningPoint& p) { return {p.bar, p.isTop ? 1 : -1, p.price}; }

std::vector<Mark> marksOf(const std::vector<vlm::TurningPoint>& points) {
    std::vector<Mark> marks;
    marks.reserve(points.size());
    for (const vlm::TurningPoint& p : points) marks.push_back(markOf(p));
    return marks;
}

}  // namespace

std::vector<Mark> marksOf(std::span<const float> signal, std::span<const float> high, std::span<const float> low) {
    return marksOf(vlm::turningPoints(signal, high, low));
}

Analysis analyse(const BarSeries& bars, const vlm::TradingPointOptions& pointOptions) {
    return analyse(bars.high, bars.low, bars.close, pointOptions);
}

Analysis analyse(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                 const vlm::TradingPointOptions& pointOptions) {
    vlm::CheckTradingPointOptions(pointOptions);
    Analysis a;
    vlm::RunAllSeriesFunctions(high, low, [&](std::size_t f) {
        a.outputs[f].assign(high.size(), 0.0f);
        return std::span<float>(a.outputs[f]);
    });
    const std::vector<float>& signal = a.outputs[1];
    // The pivots and the points from the same stroke signal: one walk over its ends.
    const vlm::BarStructures s = vlm::StructuresOfSignal(signal, high, low, close, pointOptions.macd);
    a.strokes = marksOf(s.strokeEnds);
    a.segments = marksOf(a.outputs[2], high, low);
    const std::size_t listed = s.pivots.size() - (s.pivotUnderWay ? 1 : 0);
    for (std::size_t p = 0; p < listed; ++p) {
        a.pivots.push_back(s.pivots[p].pivot);
        a.runCounts.push_back(s.pivots[p].runCount);
    }
    if (s.pivotUnderWay) a.openPivot = s.pivots.back().pivot;
    // An empty close column means the mid-price, as the rules have it.
    a.points = vlm::CalcTradingPoints(s.view(), pointOptions);
    return a;
}

Latest latestOf(const Analysis& a) {
    Latest latest;
    if (!a.strokes.empty()) latest.stroke = a.strokes.back();
    if (!a.segments.empty()) latest.segment = a.segments.back();
    if (!a.pivots.empty()) {
        latest.pivot = a.pivots.back();
        latest.pivotRunCount = a.runCounts.back();
    }
    if (!a.points.empty()) latest.point = a.points.back();
    return latest;
}

Latest analyseLatest(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                     const vlm::TradingPointOptions& pointOptions) {
    vlm::CheckTradingPointOptions(pointOptions);
    // The structures the points are built from hold the stroke ends and the
    // pivots; the segments are walked over the same ends.
    const vlm::BarStructures s = vlm::StructuresOfBars(high, low, close, pointOptions.macd);
    Latest latest;
    if (!s.strokeEnds.empty()) latest.stroke = markOf(s.strokeEnds.back());
    const std::vector<vlm::SignalMark> segments =
        vlm::CalcSegmentMarks(s.strokeEnds, high, low, vlm::PullbackRule::Apply);
    if (!segments.empty()) {
        const vlm::SignalMark& m = segments.back();
        const bool top = m.value == 1.0f;
        latest.segment = Mark{static_cast<int>(m.bar), top ? 1 : -1, top ? high[m.bar] : low[m.bar]};
    }
    const std::size_t listed = s.pivots.size() - (s.pivotUnderWay ? 1 : 0);
    if (listed > 0) {
        latest.pivot = s.pivots[listed - 1].pivot;
        latest.pivotRunCount = s.pivots[listed - 1].runCount;
    }
    const std::vector<vlm::TradingPoint> points = vlm::CalcTradingPoints(s.view(), pointOptions);
    if (!points.empty()) latest.point = points.back();
    return latest;
}

}  // namespace vlmstruct
