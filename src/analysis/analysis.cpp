#include "analysis/analysis.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "analysis/chunked_series.h"
#include "pivot/pivot_outputs.h"
#include "segment/segment_signal.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vlmstruct {

namespace {

Mark markOf(const vlm::TurningPoint& p) { return {p.bar, p.isTop ? 1 : -1, p.price}; }

std::vector<Mark> marksOf(const std::vector<vlm::TurningPoint>& points) {
    std::vector<Mark> marks;
    marks.reserve(points.size());
    for (const vlm::TurningPoint& p : points) marks.push_back(markOf(p));
    return marks;
}

// Whether every value is one a byte holds exactly: read back from its byte
// it gives the same bits (so -0.0 and NaN do not fit, nor does a fraction).
// The bytes go to `out` as far as the values are read.
bool packInto(std::span<const float> values, std::int8_t* out) {
    constexpr std::size_t kStretch = 4096;  // values checked between stops
    for (std::size_t i = 0; i < values.size();) {
        const std::size_t end = std::min(values.size(), i + kStretch);
        std::uint32_t misfit = 0;
        for (; i < end; ++i) {
            const float v = values[i];
            const bool inRange = v >= -128.0f && v <= 127.0f;
            const auto b = static_cast<std::int8_t>(inRange ? v : 0.0f);
            out[i] = b;
            misfit |= static_cast<std::uint32_t>(!inRange) |
                      (std::bit_cast<std::uint32_t>(static_cast<float>(b)) ^ std::bit_cast<std::uint32_t>(v));
        }
        if (misfit != 0) return false;
    }
    return true;
}

// The pages the allocator keeps of what has been freed go back to the
// system, once a stage is done. The strokes' end bars are many small
// blocks: once freed, the few blocks the allocator holds back among them
// leave no stretch an output fits in, and small blocks taken later split
// the room of a freed output the same way, so those pages would otherwise
// stay in use to the end. A short series frees too little to matter, and
// what it frees the next one reuses (the levels of analyze, a Python loop
// over many series), where returning it would only cost the faults of
// taking it back.
void returnFreedPages(std::size_t bars) {
    constexpr std::size_t kWorthReturning = std::size_t{1} << 16;
    if (bars < kWorthReturning) return;
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

OutputColumn::OutputColumn(std::vector<float> values) : bars_(values.size()) {
    if (values.size() >= kPackedFrom) {
        small_.resize(values.size());
        if (packInto(values, small_.data())) return;
        small_ = {};
    }
    floats_ = std::move(values);
}

std::vector<float> OutputColumn::floats() const& {
    if (!floats_.empty() || bars_ == 0) return floats_;
    return std::vector<float>(small_.begin(), small_.end());
}

std::vector<float> OutputColumn::floats() && {
    // The column is left empty: its bytes go as soon as their floats are made.
    bars_ = 0;
    if (!floats_.empty()) return std::move(floats_);
    const std::vector<std::int8_t> small = std::move(small_);
    return std::vector<float>(small.begin(), small.end());
}

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
    const auto structures = [&](std::span<const float> signal) {
        // The pivots and the points from the same stroke signal: one walk over its ends.
        vlm::BarStructures s = vlm::StructuresOfSignal(signal, high, low, close, pointOptions.macd);
        a.strokes = marksOf(s.strokeEnds);
        const std::span<const vlm::PointPivot> closed = s.closedPivots();
        a.pivots.reserve(closed.size());
        a.runCounts.reserve(closed.size());
        for (const vlm::PointPivot& p : closed) {
            a.pivots.push_back(p.pivot);
            a.runCounts.push_back(p.runCount);
        }
        if (s.pivotUnderWay) a.openPivot = s.pivots.back().pivot;
        // An empty close column means the mid-price, as the rules have it.
        a.points = vlm::CalcTradingPoints(s.view(), pointOptions);
    };
    // Each output is written to floats and packed as soon as it is complete
    // (output f - 1 is when f is asked for), but function 2's: it is the
    // signal 3 to 9 read, so it stays as it is until they are done.
    std::vector<float> signal;
    std::vector<float> writing;
    const auto settle = [&](std::size_t f) {
        if (f == 2) a.segments = marksOf(writing, high, low);
        a.outputs[f] = OutputColumn(std::move(writing));
        writing = {};
        returnFreedPages(high.size());
    };
    vlm::RunAllSeriesFunctions(high, low, [&](std::size_t f) {
        if (f == 1) {
            settle(0);
            signal.assign(high.size(), 0.0f);
            return std::span<float>(signal);
        }
        if (f == 2) {
            // Function 2's signal is complete and the merged bars and
            // strokes are freed: the structures are read off it now, so
            // that the histogram of every bar is gone before the last seven
            // outputs take their room.
            returnFreedPages(high.size());
            structures(signal);
        } else if (f > 2) {
            settle(f - 1);
        }
        writing.assign(high.size(), 0.0f);
        return std::span<float>(writing);
    });
    settle(vlm::kSeriesFunctions.size() - 1);
    a.outputs[1] = OutputColumn(std::move(signal));
    returnFreedPages(high.size());
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
    if (!segments.empty()) latest.segment = markOf(vlm::PointOfMark(segments.back(), high, low));
    if (const std::span<const vlm::PointPivot> closed = s.closedPivots(); !closed.empty()) {
        latest.pivot = closed.back().pivot;
        latest.pivotRunCount = closed.back().runCount;
    }
    const std::vector<vlm::TradingPoint> points = vlm::CalcTradingPoints(s.view(), pointOptions);
    if (!points.empty()) latest.point = points.back();
    return latest;
}

}  // namespace vlmstruct
