#include "functions/series_functions.h"

#include <algorithm>
#include <vector>

#include "kline/kxian_signal.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "segment/segment_signal.h"
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

}  // namespace vlm
