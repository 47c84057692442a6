#include "functions/series_functions.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "kline/bar_count.h"
#include "kline/kxian_chuli.h"
#include "kline/kxian_signal.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "segment/segment_signal.h"
#include "stroke/bi_chuli.h"
#include "stroke/bi_signal.h"

namespace vlm {

namespace {

// Functions 1 to 4: the routine's whole array first (the only step that can
// fail), then copied value by value; nothing of `out` is read.
void publishSignal(const std::vector<float>& pOut, std::span<float> out) noexcept {
    const std::size_t n = std::min(pOut.size(), out.size());
    std::copy_n(pOut.begin(), n, out.begin());
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), 0.0f);
}

// Functions 5 to 9: one pivot list, five writers.
void publishPivots(const SeriesInputs& in, PivotOutput what, std::span<float> out) {
    const ZhongShuList list = CalcPivotList(in.signal, in.high, in.low);
    WritePivotOutput(list, what, out);
}

// Function 1 over a zeroed `turns`, and the strokes, from one merging that
// goes a piece of bars at a time. A merged record is final once the next one
// opens, and is then marked and handed to the strokes; the records before
// the pending list are dropped, since the strokes keep what they need of
// them. So the whole merged list is never held at once.
void mergeIntoStrokes(std::span<const float> high, std::span<const float> low, std::span<float> turns,
                      BiChuLi& strokes) {
    constexpr std::size_t kPieceBars = std::size_t{1} << 12;
    KxianChuLi merged;
    std::vector<Kxian>& window = merged.kxianList;
    std::size_t taken = 0;  // records of the window already handed on
    for (std::size_t from = 0; from < high.size(); from += kPieceBars) {
        const std::size_t count = std::min(kPieceBars, high.size() - from);
        merged.AddKxians(high.subspan(from, count), low.subspan(from, count));
        const std::size_t closed = window.size() - 1;  // all but the last record are final
        MarkKxianTurns(window, taken, closed, turns);
        strokes.extend(std::span<const Kxian>(window).first(closed), taken);
        taken = closed;
        // Dropped once they are half the window, so each record moves at
        // most once for each one dropped, however long the pending list grows.
        const std::size_t dead = strokes.pendingStart();
        if (dead > 0 && 2 * dead >= window.size()) {
            window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(dead));
            strokes.dropLeading(dead);
            taken -= dead;
        }
    }
    MarkLastKxian(window, turns);
    strokes.extend(window, taken);
}

}  // namespace

void RunTurningPoints(const SeriesInputs& in, std::span<float> out) {
    publishSignal(CalcKxianSignal(in.high, in.low), out);
}
void RunStrokes(const SeriesInputs& in, std::span<float> out) {
    publishSignal(CalcBiSignal(in.high, in.low), out);
}
void RunSegments(const SeriesInputs& in, std::span<float> out) {
    publishSignal(CalcSegmentSignal(in.signal, in.high, in.low), out);
}
void RunSegmentsNoPullback(const SeriesInputs& in, std::span<float> out) {
    publishSignal(CalcSegmentSignalNoPullback(in.signal, in.high, in.low), out);
}
void RunPivotUpper(const SeriesInputs& in, std::span<float> out) {
    publishPivots(in, PivotOutput::Upper, out);
}
void RunPivotLower(const SeriesInputs& in, std::span<float> out) {
    publishPivots(in, PivotOutput::Lower, out);
}
void RunPivotEndMarks(const SeriesInputs& in, std::span<float> out) {
    publishPivots(in, PivotOutput::EndMarks, out);
}
void RunPivotTrend(const SeriesInputs& in, std::span<float> out) {
    publishPivots(in, PivotOutput::Trend, out);
}
void RunPivotRunCount(const SeriesInputs& in, std::span<float> out) {
    publishPivots(in, PivotOutput::RunCount, out);
}

void RunAllSeriesFunctions(std::span<const float> high, std::span<const float> low,
                           const std::function<std::span<float>(std::size_t)>& output) {
    const auto take = [&](std::size_t k) {
        const std::span<float> out = output(k);
        if (out.size() != high.size()) throw std::invalid_argument("one output value per bar");
        return out;
    };
    // Refused before any output is asked for, as a single merging would.
    RequireBars(high.size(), high.size(), low.size());
    std::span<float> signal;
    {
        const std::span<float> turns = take(0);
        std::fill(turns.begin(), turns.end(), 0.0f);
        BiChuLi strokes(BiChuLi::Bars::EndOnly);  // the signal marks their ends alone
        mergeIntoStrokes(high, low, turns, strokes);
        signal = take(1);
        WriteBiSignal(strokes.biList, signal);
    }
    const SeriesInputs in{signal, high, low};
    RunSegments(in, take(2));
    RunSegmentsNoPullback(in, take(3));
    const ZhongShuList list = CalcPivotList(in.signal, in.high, in.low);
    for (const PivotOutput what : {PivotOutput::Upper, PivotOutput::Lower, PivotOutput::EndMarks,
                                   PivotOutput::Trend, PivotOutput::RunCount}) {
        WritePivotOutput(list, what, take(4 + static_cast<std::size_t>(what)));
    }
}

}  // namespace vlm
