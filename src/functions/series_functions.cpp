#include "functions/series_functions.h"


#include "kline/kxian_chuli.h"
#include "kline/kxian_signal.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "segment/segment_signal.h"
#include "stroke/bi_chuli.h"
#include "stroke/bi_signal.h"

namespace vlm {

namespace {

// Every routine builds its structures first (the only step that can fail)
// and then writes `out` from them; nothing of `out` is read.
void publishPivots(const SeriesInputs& in, PivotOutput what, std::span<float> out) {
    const ZhongShuList list = CalcPivotList(in.signal, in.high, in.low);
    WritePivotOutput(list, what, out);
}

void publishSegments(const SeriesInputs& in, PullbackRule rule, std::span<float> out) {
    WriteSignalMarks(CalcSegmentMarks(in.signal, in.high, in.low, rule), out);
}

}  // namespace

void RunTurningPoints(const SeriesInputs& in, std::span<float> out) {
    KxianChuLi kxianChuLi;
    kxianChuLi.AddKxians(in.high, in.low);
    WriteKxianSignal(kxianChuLi.kxianList, out);
}
void RunStrokes(const SeriesInputs& in, std::span<float> out) {
    KxianChuLi kxianChuLi;
    kxianChuLi.AddKxians(in.high, in.low);
    BiChuLi biChuLi;
    biChuLi.build(kxianChuLi.kxianList);
    WriteBiSignal(biChuLi.biList, out);
}
void RunSegments(const SeriesInputs& in, std::span<float> out) {
    publishSegments(in, PullbackRule::Apply, out);
}
void RunSegmentsNoPullback(const SeriesInputs& in, std::span<float> out) {
    publishSegments(in, PullbackRule::Ignore, out);
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
