#pragma once
// Strokes: runs of merged bars from one confirmed top or bottom to the next.

#include <cstdint>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "state/state.h"

namespace vlm {

struct Bi {
    std::int32_t direction = 1;  // 1 ends at a top, -1 ends at a bottom
    std::int32_t startIndex = 0;
    std::int32_t endIndex = 0;
    float high = 0.0f;  // up: its top; down: the high of the up stroke before it
    float low = 0.0f;   // down: its bottom; up: the low of the stroke before it
    std::vector<Kxian> kxianList;  // never empty; the last element is the stroke's end

    friend bool operator==(const Bi&, const Bi&) = default;

    // Only the end of a stroke changes its merged bars: those before it are final.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.direction);
        v(self.startIndex);
        v(self.endIndex);
        v(self.high);
        v(self.low);
        v(state::Settled(self.kxianList, self.kxianList.empty() ? 0 : self.kxianList.size() - 1));
    }
};

// Does a stroke of `direction` open on this pending list? True when three
// merged bars in a row go strictly further in that direction (lows falling
// for -1, highs rising for 1) and a later bar goes strictly beyond the third.
bool confirmBi(std::span<const Kxian> list, int direction);

// The same answer as confirmBi after every bar appended to a pending list,
// in constant time per bar: once a run of three has ended at price p, any
// later bar beyond p confirms, so only the run end least far out matters.
class PendingConfirmation {
public:
    explicit PendingConfirmation(int direction) : direction_(direction) {}
    bool add(const Kxian& bar);

    friend bool operator==(const PendingConfirmation&, const PendingConfirmation&) = default;

private:
    [[nodiscard]] float priceOf(const Kxian& bar) const {
        return direction_ == -1 ? bar.low : bar.high;
    }
    [[nodiscard]] bool beyond(float a, float b) const { return direction_ == -1 ? a < b : a > b; }

    friend class BiChuLi;
    int direction_;
    std::size_t size_ = 0;
    float older_ = 0.0f;  // price of the bar two back
    float newer_ = 0.0f;  // price of the bar one back
    bool haveRunEnd_ = false;
    float nearestRunEnd_ = 0.0f;
    bool confirmed_ = false;
};

// What one more merged bar does to the strokes.
enum class StrokeStep {
    OpensFirst,  // no stroke yet: the bar is the first, up stroke
    Extends,     // the stroke in progress reaches the bar's extreme and ends there
    Pends,       // the bar waits in the pending list
    Confirms,    // the pending list confirms: a stroke of the other direction opens
};

class BiChuLi {
public:
    // What each stroke's kxianList holds: all its merged bars, or its end
    // bar alone for callers that read no other (the strokes are the same).
    enum class Bars { All, EndOnly };
    BiChuLi() = default;
    explicit BiChuLi(Bars bars) : endOnly_(bars == Bars::EndOnly) {}

    // The strokes of a whole merged-bar list; called once, on an empty biList.
    void build(std::span<const Kxian> kxians);

    // Bar by bar: takes merged bar k of `kxians`, after bars 0..k-1 were
    // taken by earlier calls. Only bars up to k are read, and they must not
    // change afterwards. Keeping end bars only, bar k alone is read, so a
    // caller may drop the bars before it.
    void push(std::span<const Kxian> kxians, std::size_t k);

    // What push would do with `bar` as the next merged bar, without doing it.
    [[nodiscard]] StrokeStep preview(const Kxian& bar) const;

    std::vector<Bi> biList;

    // Whether a state read back could be one of strokes of `kxians` merged
    // bars over `bars` bars.
    [[nodiscard]] bool fits(std::size_t kxians, std::size_t bars) const;

    // Every field, so a push taken back can be told from none made.
    friend bool operator==(const BiChuLi&, const BiChuLi&) = default;

    // What a push can change (see state/state.h): the strokes before the
    // last are final; the last one's merged bars before its end are too.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(state::Settled(self.biList, self.biList.empty() ? 0 : self.biList.size() - 1));
        v(self.pending_);
    }

private:
    // The pending list (tempKxianList) is always the run of merged bars after
    // the last bar of the stroke in progress, so it is kept as the index of
    // its first bar rather than as copies.
    struct Pending {
        std::size_t start = 0;
        PendingConfirmation confirmation{-1};

        friend bool operator==(const Pending&, const Pending&) = default;
    };

    StrokeStep classify(const Kxian& bar, PendingConfirmation& confirmation) const;
    void step(std::span<const Kxian> kxians, std::size_t k, Pending& pending);

    Pending pending_;
    bool endOnly_ = false;
};

}  // namespace vlm
