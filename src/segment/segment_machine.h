#pragma once
// The one segment state machine behind functions 3 and 4. It is a small value:
// copying it saves the whole state of a pass, so a pass can be resumed, or run
// ahead on stroke ends that may still change and then taken back.

#include <cstddef>
#include <span>
#include <vector>

#include "signal/signal_mark.h"
#include "state/state.h"

namespace vlm {

// Whether a segment may also reverse by breaking its first pullback.
enum class PullbackRule { Apply, Ignore };

class SegmentMachine {
public:
    explicit SegmentMachine(PullbackRule rule) : pullbackRule_(rule == PullbackRule::Apply) {}

    // Feeds the stroke end at bar i (`signal` exactly 1.0 or -1.0; other
    // values must not be fed). `high` and `low` hold at least bars 0..i.
    // A new segment end is appended to `marks`; a moved end replaces the
    // last mark, which is always the end of the segment in progress.
    void step(std::size_t i, float signal, std::span<const float> high, std::span<const float> low,
              std::vector<SignalMark>& marks);

    friend bool operator==(const SegmentMachine&, const SegmentMachine&) = default;
    // Whether a state read back could be one of a machine fed `bars` bars
    // whose last mark is `last` (none: no mark yet): its bars among them,
    // and a segment under way ending at the last mark.
    [[nodiscard]] bool fits(std::size_t bars, const SignalMark* last, PullbackRule rule) const {
        const auto within = [bars](std::size_t i) { return i < bars || i == 0; };
        const bool ruleApplies = rule == PullbackRule::Apply;
        if (!state::SameBytes(pullbackRule_, ruleApplies) || !within(bottomIndex_) || !within(topIndex_)) return false;
        if (direction_ == 0) return true;
        return (direction_ == 1 || direction_ == -1) && last != nullptr &&
               last->value == static_cast<float>(direction_) && last->bar == (direction_ == 1 ? topIndex_ : bottomIndex_);
    }

private:
    [[nodiscard]] bool extremesSet() const;
    void upSegmentMeetsBottom(std::size_t i, float low, float startLow, std::vector<SignalMark>& marks);
    void downSegmentMeetsTop(std::size_t i, float high, float startHigh, std::vector<SignalMark>& marks);
    void markTop(std::size_t i, std::vector<SignalMark>& marks);
    void markBottom(std::size_t i, std::vector<SignalMark>& marks);

    bool pullbackRule_;
    // 0.0 in a pullback value or a stroke extreme means "not set"; the
    // pullbacks test it by equality, the extremes through rule 2's "all above
    // zero".
    int direction_ = 0;
    std::size_t bottomIndex_ = 0;
    std::size_t topIndex_ = 0;
    float pullbackHigh_ = 0.0f;
    float prevTopHigh_ = 0.0f;
    float lastTopHigh_ = 0.0f;
    float pullbackLow_ = 0.0f;
    float prevBottomLow_ = 0.0f;
    float lastBottomLow_ = 0.0f;
};

}  // namespace vlm
