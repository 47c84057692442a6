#include "stream/streaming_engine.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "kline/bar_count.h"
#include "kline/kxian_signal.h"
#include "pivot/pivot_outputs.h"
#include "stroke/bi_signal.h"

namespace vlm {

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
            tail.add(BiMark(final.biList.back()));
            break;
        case StrokeStep::Confirms:
            tail.add(BiMark(final.biList.back()));
            tail.add({lastBar, MarkValue(-final.biList.back().direction)});
            break;
    }
    return tail;
}

void StreamingEngine::push(float high, float low) {
    takeBackProvisional();
    append(high, low);
}

void StreamingEngine::pushProvisional(float high, float low) {
    takeBackProvisional();
    provisional_.keep(*this);
    append(high, low);
}

void StreamingEngine::takeBackProvisional() { provisional_.takeBack(*this); }

void StreamingEngine::append(float high, float low) {
    RequireBarIndex(high_.size() + 1);
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

bool StreamingEngine::fits() const {
    const std::size_t n = high_.size();
    const auto bar = [n](std::int64_t b) { return b >= 0 && static_cast<std::uint64_t>(b) < n; };
    const std::vector<Kxian>& kxians = kxianChuLi_.kxianList;
    if (low_.size() != n || (n > 0) != !kxians.empty()) return false;
    for (const Kxian& k : kxians) {
        if (!bar(k.startIndex) || !bar(k.endIndex) || !bar(k.extremeIndex) || (k.direction != 1 && k.direction != -1)) {
            return false;
        }
    }
    if (!biChuLi_.fits(kxians.size(), n)) return false;
    for (const MarkList& list : lists_) {
        if (list.final > list.marks.size()) return false;
        for (const SignalMark& m : list.marks) {
            if (m.bar >= n) return false;
        }
    }
    if (finalPoints_ > points_.size() || !walk_.fits(std::span(points_).first(finalPoints_))) return false;
    for (const TurningPoint& p : points_) {
        if (!bar(p.bar) || !state::ValidBool(p.isTop)) return false;
    }
    for (std::size_t s = 0; s < segmentTails_.size(); ++s) {
        // The tail replaces the last segment end and appends after it; the
        // machine's last mark is the one before the tail.
        const SegmentTail& t = segmentTails_[s];
        const std::vector<SignalMark>& marks = lists_[index(MarkSeries::Segments) + s].marks;
        if ((t.size != 0 && t.last.bar >= n) || t.size > marks.size() + 1) return false;
        const SignalMark* last = tailApplied_ ? (t.size != 0 ? &t.last : nullptr) : (marks.empty() ? nullptr : &marks.back());
        if (!segmentMachines_[s].fits(n, last, s == 0 ? PullbackRule::Apply : PullbackRule::Ignore)) return false;
    }
    if (appliedTail_.size > appliedTail_.marks.size()) return false;
    for (std::size_t t = 0; t < appliedTail_.size; ++t) {
        if (appliedTail_.marks[t].bar >= n) return false;
    }
    if (runCounts_.size() != pivots_.size() || finalPivots_ > pivots_.size() || finalCloses_ > closes_.size()) {
        return false;
    }
    for (const PivotClose& c : closes_) {
        if (!state::ValidBool(c.retained)) return false;
    }
    return state::Provisional::takesBackFitting(*this, provisional_, [](const StreamingEngine& e) { return e.fits(); });
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
    if (KxianTurns(list, k)) {
        turning.marks.push_back(KxianMark(list[k]));
    }
    turning.final = turning.marks.size();
    biChuLi_.push(list, k);
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
        const SignalMark mark = BiMark(biList[strokes.marks.size()]);
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
    lists_[index(MarkSeries::TurningPoints)].marks.push_back(KxianMark(last));

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
        runCounts_.push_back(RunCountAfter(std::span(pivots_).first(p), runCounts_, pivots_[p]));
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
