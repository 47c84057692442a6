#include "stream/streaming_engine.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "kline/bar_count.h"
#include "pivot/pivot_outputs.h"

namespace vlm {

namespace {

SignalMark strokeMark(const Bi& stroke) {
    return {static_cast<std::size_t>(stroke.kxianList.back().extremeIndex),
            MarkValue(stroke.direction)};
}

}  // namespace

StreamingEngine::StrokeTail StreamingEngine::strokeTail(const BiChuLi& final, const Kxian& last) {
    StrokeTail tail;
    const auto lastBar = static_cast<std::size_t>(last.extremeIndex);
    switch (final.preview(last)) {
        case StrokeStep::OpensFirst:
            tail.add({lastBar, 1.0f});
            break;
        case StrokeStep::Extends:
            tail.add({lastBar, MarkValue(final.biList.back().direction)});
            break;
        case StrokeStep::Pends:
            tail.add(strokeMark(final.biList.back()));
            break;
        case StrokeStep::Confirms:
            tail.add(strokeMark(final.biList.back()));
            tail.add({lastBar, MarkValue(-final.biList.back().direction)});
            break;
    }
    return tail;
}

void StreamingEngine::push(float high, float low) {
    takeBackProvisional();
    if (high_.size() >= kMaxBars) {
        throw std::length_error("too many bars: at most 2147483647 bars fit a 32-bit bar index");
    }
    high_.push_back(high);
    low_.push_back(low);
    MarkList& turning = lists_[index(MarkSeries::TurningPoints)];
    turning.marks.resize(turning.final);  // the last record's mark
    const std::size_t before = kxianChuLi_.kxianList.size();
    kxianChuLi_.AddKxian(high, low);
    const std::size_t after = kxianChuLi_.kxianList.size();
    if (after > before && after >= 2) {
        commitRecord(after - 2);  // a new record opened: the one before it is final
    }
    runTail();
}

namespace {

template <typename T>
void keepFrom(const std::vector<T>& list, std::size_t from, std::vector<T>& tail) {
    tail.assign(list.begin() + static_cast<std::ptrdiff_t>(std::min(from, list.size())), list.end());
}

template <typename T>
void putBack(std::vector<T>& list, std::size_t from, const std::vector<T>& tail) {
    list.resize(from);
    list.insert(list.end(), tail.begin(), tail.end());
}

}  // namespace

void StreamingEngine::pushProvisional(float high, float low) {
    takeBackProvisional();
    save(saved_);
    push(high, low);
    provisional_ = true;
}

void StreamingEngine::takeBackProvisional() {
    if (!provisional_) {
        return;
    }
    provisional_ = false;
    restore(saved_);
}

// A push changes no list before its first entry that is not final: the
// turning points and strokes are cut back to their final ones, segments to
// the last final end (the one after it is the segment in progress), the
// stroke ends and pivots to the final ones. Only the newest merged record
// and the last stroke change in place.
void StreamingEngine::save(Saved& saved) const {
    saved.kxians = kxianChuLi_.kxianList.size();
    if (saved.kxians > 0) saved.lastKxian = kxianChuLi_.kxianList.back();
    saved.strokes = biChuLi_.save();
    for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
        saved.finals[s] = lists_[s].final;
        keepFrom(lists_[s].marks, lists_[s].final, saved.markTails[s]);
    }
    saved.finalPoints = finalPoints_;
    keepFrom(points_, finalPoints_, saved.pointTail);
    saved.segmentMachines = segmentMachines_;
    saved.segmentTails = segmentTails_;
    saved.walk = walk_;
    saved.finalPivots = finalPivots_;
    saved.finalCloses = finalCloses_;
    keepFrom(pivots_, finalPivots_, saved.pivotTail);
    keepFrom(runCounts_, finalPivots_, saved.runCountTail);
    keepFrom(closes_, finalCloses_, saved.closeTail);
    saved.pivotUnderWay = pivotUnderWay_;
    saved.appliedTail = appliedTail_;
    saved.tailApplied = tailApplied_;
}

void StreamingEngine::restore(const Saved& saved) {
    high_.pop_back();
    low_.pop_back();
    std::vector<Kxian>& kxians = kxianChuLi_.kxianList;
    kxians.resize(saved.kxians);
    if (saved.kxians > 0) kxians.back() = saved.lastKxian;
    biChuLi_.restore(saved.strokes);
    for (std::size_t s = 0; s < kMarkSeriesCount; ++s) {
        lists_[s].final = saved.finals[s];
        putBack(lists_[s].marks, saved.finals[s], saved.markTails[s]);
    }
    finalPoints_ = saved.finalPoints;
    putBack(points_, saved.finalPoints, saved.pointTail);
    segmentMachines_ = saved.segmentMachines;
    segmentTails_ = saved.segmentTails;
    walk_ = saved.walk;
    finalPivots_ = saved.finalPivots;
    finalCloses_ = saved.finalCloses;
    putBack(pivots_, saved.finalPivots, saved.pivotTail);
    putBack(runCounts_, saved.finalPivots, saved.runCountTail);
    putBack(closes_, saved.finalCloses, saved.closeTail);
    pivotUnderWay_ = saved.pivotUnderWay;
    appliedTail_ = saved.appliedTail;
    tailApplied_ = saved.tailApplied;
}

void StreamingEngine::reserve(std::size_t bars) {
    high_.reserve(bars);
    low_.reserve(bars);
    kxianChuLi_.kxianList.reserve(bars);
    lists_[index(MarkSeries::TurningPoints)].marks.reserve(bars);
    // Strokes, their ends, segment ends and pivots: a stroke ends at least
    // four merged bars after the one before, and a tail adds at most two.
    const std::size_t strokes = bars / 4 + 3;
    biChuLi_.biList.reserve(strokes);
    points_.reserve(strokes);
    for (std::size_t s = index(MarkSeries::Strokes); s < kMarkSeriesCount; ++s) {
        lists_[s].marks.reserve(strokes);
    }
    pivots_.reserve(strokes);
    runCounts_.reserve(strokes);
    closes_.reserve(strokes);
}

void StreamingEngine::takeBackStrokeTail() {
    if (!tailApplied_) {
        return;
    }
    tailApplied_ = false;
    MarkList& strokes = lists_[index(MarkSeries::Strokes)];
    strokes.marks.resize(strokes.final);
    for (std::size_t s = 0; s < segmentTails_.size(); ++s) {
        std::vector<SignalMark>& marks = lists_[index(MarkSeries::Segments) + s].marks;
        const SegmentTail& tail = segmentTails_[s];
        marks.resize(tail.size == 0 ? 0 : tail.size - 1);
        if (tail.size != 0) {
            marks.push_back(tail.last);  // within capacity: cannot fail
        }
    }
    points_.resize(finalPoints_);
    pivots_.resize(finalPivots_);
    runCounts_.resize(finalPivots_);
    closes_.resize(finalCloses_);
}

void StreamingEngine::commitRecord(std::size_t k) {
    const std::vector<Kxian>& list = kxianChuLi_.kxianList;
    MarkList& turning = lists_[index(MarkSeries::TurningPoints)];
    // A record is a turning point when the direction changes after it; the
    // record after it is there now, and its direction never changes.
    if (list[k].direction != list[k + 1].direction) {
        turning.marks.push_back(
            {static_cast<std::size_t>(list[k].extremeIndex), MarkValue(list[k].direction)});
    }
    turning.final = turning.marks.size();
    biChuLi_.add(list, k);
    commitStrokes();
}

void StreamingEngine::commitStrokes() {
    MarkList& strokes = lists_[index(MarkSeries::Strokes)];
    const std::vector<Bi>& biList = biChuLi_.biList;
    if (strokes.final + 1 >= biList.size()) {
        return;  // no stroke has become final
    }
    takeBackStrokeTail();
    // Every stroke before the last is final: its end feeds segments and pivots.
    while (strokes.marks.size() + 1 < biList.size()) {
        const SignalMark mark = strokeMark(biList[strokes.marks.size()]);
        strokes.marks.push_back(mark);
        points_.push_back(pointOf(mark));
        for (std::size_t s = 0; s < segmentMachines_.size(); ++s) {
            segmentMachines_[s].step(mark.bar, mark.value, high_, low_,
                                     lists_[index(MarkSeries::Segments) + s].marks);
        }
    }
    strokes.final = strokes.marks.size();
    finalPoints_ = points_.size();
    for (std::size_t s = 0; s < segmentMachines_.size(); ++s) {
        MarkList& segments = lists_[index(MarkSeries::Segments) + s];
        // The last segment end is that of the segment in progress: it can move.
        segments.final = segments.marks.empty() ? 0 : segments.marks.size() - 1;
    }
    walk_.advance(points_, pivots_, &closes_);
    appendRunCounts();
    finalPivots_ = pivots_.size();
    finalCloses_ = closes_.size();
}

void StreamingEngine::runTail() {
    const Kxian& last = kxianChuLi_.kxianList.back();
    lists_[index(MarkSeries::TurningPoints)].marks.push_back(
        {static_cast<std::size_t>(last.extremeIndex), MarkValue(last.direction)});

    // Segments and pivots depend on the final stroke ends, which have not
    // changed since the tail was last run, and on the tail's stroke ends: when
    // those are the same too (most bars), what the tail gave still stands.
    const StrokeTail tail = strokeTail(biChuLi_, last);
    if (tailApplied_ && tail == appliedTail_) {
        return;
    }
    takeBackStrokeTail();
    appliedTail_ = tail;
    tailApplied_ = true;
    for (std::size_t t = 0; t < tail.size; ++t) {
        lists_[index(MarkSeries::Strokes)].marks.push_back(tail.marks[t]);
        points_.push_back(pointOf(tail.marks[t]));
    }
    for (std::size_t s = 0; s < segmentMachines_.size(); ++s) {
        std::vector<SignalMark>& marks = lists_[index(MarkSeries::Segments) + s].marks;
        segmentTails_[s] = {marks.size(), marks.empty() ? SignalMark{0, 0.0f} : marks.back()};
        SegmentMachine ahead = segmentMachines_[s];
        for (std::size_t t = 0; t < tail.size; ++t) {
            ahead.step(tail.marks[t].bar, tail.marks[t].value, high_, low_, marks);
        }
    }
    PivotWalk ahead = walk_;
    ahead.advance(points_, pivots_, &closes_);
    appendRunCounts();
    pivotUnderWay_ = ahead.openPivot();
}

void StreamingEngine::appendRunCounts() {
    while (runCounts_.size() < pivots_.size()) {
        const std::size_t p = runCounts_.size();
        runCounts_.push_back(ContinueRunCount(p > 0 ? &pivots_[p - 1] : nullptr,
                                              p > 0 ? runCounts_[p - 1] : 0.0f, pivots_[p]));
    }
}

void StreamingEngine::write(std::size_t number, std::span<float> out) const noexcept {
    if (number >= 1 && number <= kMarkSeriesCount) {
        WriteSignalMarks(lists_[number - 1].marks, out);
    } else if (number > kMarkSeriesCount && number <= 9) {
        WritePivotOutput(pivots_, static_cast<PivotOutput>(number - kMarkSeriesCount - 1), out);
    } else {
        std::fill(out.begin(), out.end(), 0.0f);
    }
}

}  // namespace vlm
