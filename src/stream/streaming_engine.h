#pragma once
// The nine functions bar by bar: after every push, exactly what the routines
// return on the bars pushed so far (functions 3 to 9 on the stroke signal of
// function 2, as in the host), without recomputing the whole history.
//
// Every structure is split into a final part, which no later bar can change,
// and a tail that the newest bars may still move: the last merged bar, the
// stroke in progress, the segment in progress and the pivot walk since its
// last fixed point. A push feeds what has become final to the routines' own
// resumable pieces and runs the tail again on copies of them; the tail is
// taken back first, and kept as it is when its stroke ends did not change.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_walk.h"
#include "segment/segment_machine.h"
#include "state/state.h"
#include "stroke/bi_chuli.h"
#include "signal/turning_point.h"

namespace vlm {

// The four mark signals, in function order (functions 1 to 4).
enum class MarkSeries { TurningPoints, Strokes, Segments, SegmentsNoPullback };
inline constexpr std::size_t kMarkSeriesCount = 4;

class StreamingEngine {
public:
    // Appends one bar. Throws std::length_error past the largest bar index
    // the functions can hold, and std::bad_alloc; either leaves the engine
    // unusable, so start a new one. A provisional bar is taken back first.
    void push(float high, float low);

    // A bar that is still changing, such as a higher level's bar while its
    // period runs: appended as push() appends it, so everything reads as
    // after a push, but the next push of either kind (or
    // takeBackProvisional) first takes it back, leaving the engine exactly
    // as it was before it. What it makes final is final only while the bar
    // stays as it is. The cost is that of the structures' tails, not of the
    // history.
    void pushProvisional(float high, float low);
    void takeBackProvisional();
    [[nodiscard]] bool hasProvisional() const { return provisional_.active(); }

    // Room for this many bars in all, so that no push has to move a list
    // while it grows: the same total work, but no single slow push. A merged
    // bar covers at least one bar and a stroke at least four merged bars
    // (the first excepted), which bounds every list.
    void reserve(std::size_t bars);

    [[nodiscard]] std::size_t size() const { return high_.size(); }
    [[nodiscard]] std::span<const float> high() const { return high_; }
    [[nodiscard]] std::span<const float> low() const { return low_; }

    // Function `number` (1 to 9) over the bars pushed so far, written over
    // `out` (size() values). Cannot fail.
    void write(std::size_t number, std::span<float> out) const noexcept;

    // The marks of a signal, in bar order, and how many of them, from the
    // first, are final: no later bar can move or remove them.
    [[nodiscard]] std::span<const SignalMark> marks(MarkSeries series) const {
        return lists_[index(series)].marks;
    }
    [[nodiscard]] std::size_t finalMarks(MarkSeries series) const {
        return lists_[index(series)].final;
    }

    // The pivot list functions 5 to 9 publish; the first finalPivots() are final.
    [[nodiscard]] const ZhongShuList& pivots() const { return pivots_; }
    [[nodiscard]] std::size_t finalPivots() const { return finalPivots_; }
    // Function 9's value for each listed pivot.
    [[nodiscard]] std::span<const float> runCounts() const { return runCounts_; }
    // Every close of the walk, kept or dropped; the first finalCloses() are final.
    [[nodiscard]] std::span<const PivotClose> closes() const { return closes_; }
    [[nodiscard]] std::size_t finalCloses() const { return finalCloses_; }
    // The turning point a mark stands for: its bar, and the high at a top or
    // the low at a bottom.
    [[nodiscard]] TurningPoint pointOf(const SignalMark& mark) const { return PointOfMark(mark, high_, low_); }

    // The pivot still open at the last bar, which the host does not show.
    [[nodiscard]] const std::optional<Pivot>& pivotUnderWay() const { return pivotUnderWay_; }

    // The stroke ends as the pivot walk reads them, one per mark of function
    // 2; the first finalMarks(MarkSeries::Strokes) are final.
    [[nodiscard]] std::span<const TurningPoint> strokeEnds() const { return points_; }
    // The pivot the walk holds open once it has taken the final stroke ends
    // alone. No pivot listed later can start before it: it is listed with
    // this start, or dropped and the walk goes on from a later bar.
    [[nodiscard]] std::optional<Pivot> pivotOpenAtFinalEnds() const { return walk_.openPivot(); }

    // Every field, so a bar taken back can be told from none pushed.
    friend bool operator==(const StreamingEngine&, const StreamingEngine&) = default;

    // Whether a state read back from bytes could be one of pushed bars, as
    // far as what a later push reads goes: every bar it holds is one of the
    // bars, every count within its list, and so after a provisional bar is
    // taken back. A state that fails this is not to be pushed on.
    [[nodiscard]] bool fits() const;

private:
    // The stroke ends that the newest merged bar may still change: at most
    // the end of the stroke in progress and one stroke it opens.
    struct StrokeTail {
        std::array<SignalMark, 2> marks{};
        std::size_t size = 0;
        void add(SignalMark m) { marks[size++] = m; }
        friend bool operator==(const StrokeTail&, const StrokeTail&) = default;
    };
    static StrokeTail strokeTail(const BiChuLi& final, const Kxian& last);
    struct MarkList {
        std::vector<SignalMark> marks;
        std::size_t final = 0;
        friend bool operator==(const MarkList&, const MarkList&) = default;
    };
    // What a run of the segment machine on tail stroke ends changed: it can
    // replace the last final mark and append after it, nothing before.
    struct SegmentTail {
        std::size_t size = 0;
        SignalMark last{0, 0.0f};
        friend bool operator==(const SegmentTail&, const SegmentTail&) = default;
    };

    static std::size_t index(MarkSeries s) { return static_cast<std::size_t>(s); }

public:
    // Everything a push can change (see state/state.h). A push changes no
    // list before its first entry that is not final: the turning points and
    // strokes are cut back to their final ones, segments to the last final
    // end (the one after it is the segment in progress), the stroke ends and
    // pivots to the final ones. Only the newest merged record and the last
    // stroke change in place.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(state::Settled(self.high_, self.high_.size()));
        v(state::Settled(self.low_, self.low_.size()));
        auto& kxians = self.kxianChuLi_.kxianList;
        v(state::Settled(kxians, kxians.empty() ? 0 : kxians.size() - 1));
        v(self.biChuLi_);
        for (auto& list : self.lists_) {
            v(list.final);
            v(state::Settled(list.marks, list.final));
        }
        v(self.finalPoints_);
        v(state::Settled(self.points_, self.finalPoints_));
        v(self.segmentMachines_);
        v(self.segmentTails_);
        v(self.walk_);
        v(self.finalPivots_);
        v(self.finalCloses_);
        v(state::Settled(self.pivots_, self.finalPivots_));
        v(state::Settled(self.runCounts_, self.finalPivots_));
        v(state::Settled(self.closes_, self.finalCloses_));
        v(self.pivotUnderWay_);
        v(self.appliedTail_);
        v(self.tailApplied_);
        v(self.provisional_);
    }

private:
    void append(float high, float low);
    void takeBackStrokeTail();
    void commitRecord(std::size_t k);
    void commitStrokes();
    void runTail();
    void appendRunCounts();

    std::vector<float> high_;
    std::vector<float> low_;
    KxianChuLi kxianChuLi_;  // its last record is the only one still changing
    BiChuLi biChuLi_{BiChuLi::Bars::EndOnly};  // fed the final merged bars only
    std::array<MarkList, kMarkSeriesCount> lists_;
    std::vector<TurningPoint> points_;  // stroke ends: the final ones, then the tail
    std::size_t finalPoints_ = 0;
    std::array<SegmentMachine, 2> segmentMachines_{SegmentMachine(PullbackRule::Apply),
                                                    SegmentMachine(PullbackRule::Ignore)};
    std::array<SegmentTail, 2> segmentTails_{};
    PivotWalk walk_;  // has fed the final stroke ends
    ZhongShuList pivots_;
    std::vector<float> runCounts_;
    std::vector<PivotClose> closes_;
    std::size_t finalPivots_ = 0;
    std::size_t finalCloses_ = 0;
    std::optional<Pivot> pivotUnderWay_;
    StrokeTail appliedTail_;
    bool tailApplied_ = false;  // the tail's stroke ends are in the lists
    state::Provisional provisional_;  // takes a provisional bar back
};

}  // namespace vlm
