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

void publish(const std::vector<float>& pOut, std::span<float> out) {
    std::copy(pOut.begin(), pOut.end(), out.begin());
}

void publishPivots(const SeriesInputs& in, PivotOutput what, std::span<float> out) {
    const ZhongShuList list = CalcPivotList(in.signal, in.high, in.low);
    WritePivotOutput(list, what, out);
}

}  // namespace

void RunTurningPoints(const SeriesInputs& in, std::span<float> out) {
    publish(CalcKxianSignal(in.high, in.low), out);
}
void RunStrokes(const SeriesInputs& in, std::span<float> out) {
    publish(CalcBiSignal(in.high, in.low), out);
}
void RunSegments(const SeriesInputs& in, std::span<float> out) {
    publish(CalcSegmentSignal(in.signal, in.high, in.low), out);
}
void RunSegmentsNoPullback(const SeriesInputs& in, std::span<float> out) {
    publish(CalcSegmentSignalNoPullback(in.signal, in.high, in.low), out);
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
