#include "segment/segment_signal.h"

#include <algorithm>
#include <cstddef>

namespace vlm {

namespace {

// State of one pass. 0.0 in a pullback value or a stroke extreme means "not
// set"; the pullbacks test it by equality, the extremes through rule 2's
// "all above zero".
class SegmentMachine {
public:
    SegmentMachine(std::span<const float> high, std::span<const float> low, PullbackRule rule,
                   std::vector<SegmentMark>& marks)
        : high_(high), low_(low), pullbackRule_(rule == PullbackRule::Apply), marks_(marks) {}

    void step(std::size_t i, float signal) {
        const bool top = signal == 1.0f;
        const bool bottom = signal == -1.0f;
        if (top) {
            prevTopHigh_ = lastTopHigh_;
            lastTopHigh_ = high_[i];
        } else if (bottom) {
            prevBottomLow_ = lastBottomLow_;
            lastBottomLow_ = low_[i];
        }
        if (direction_ == 0) {
            if (top) {
                markTop(i);
            } else if (bottom) {
                markBottom(i);
            }
        } else if (direction_ == 1) {
            if (top) {
                if (high_[i] > high_[topIndex_]) {
                    marks_.pop_back();  // the top mark moves: the segment's end is the last mark
                    markTop(i);
                }
            } else if (bottom) {
                upSegmentMeetsBottom(i);
            }
        } else {
            if (bottom) {
                if (low_[i] < low_[bottomIndex_]) {
                    marks_.pop_back();
                    markBottom(i);
                }
            } else if (top) {
                downSegmentMeetsTop(i);
            }
        }
    }

private:
    [[nodiscard]] bool extremesSet() const {
        return prevTopHigh_ > 0.0f && lastTopHigh_ > 0.0f && prevBottomLow_ > 0.0f &&
               lastBottomLow_ > 0.0f;
    }

    void upSegmentMeetsBottom(std::size_t i) {
        const float low = low_[i];
        const bool startBroken = low < low_[bottomIndex_];
        const bool lowerTopLowerBottom =
            extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ < prevBottomLow_;
        if (startBroken || lowerTopLowerBottom) {
            markBottom(i);
        } else if (pullbackRule_) {
            if (pullbackLow_ == 0.0f) {
                pullbackLow_ = low;
            } else if (low < pullbackLow_) {
                markBottom(i);
            }
        }
    }

    void downSegmentMeetsTop(std::size_t i) {
        const float high = high_[i];
        const bool startBroken = high > high_[topIndex_];
        const bool higherBottomHigherTop =
            extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ > prevBottomLow_;
        if (startBroken || higherBottomHigherTop) {
            markTop(i);
        } else if (pullbackRule_) {
            if (pullbackHigh_ == 0.0f) {
                pullbackHigh_ = high;
            } else if (high > pullbackHigh_) {
                markTop(i);
            }
        }
    }

    // Every mark, a move included, starts a new pullback.
    void markTop(std::size_t i) {
        marks_.push_back({i, 1.0f});
        topIndex_ = i;
        pullbackHigh_ = 0.0f;
        pullbackLow_ = 0.0f;
        direction_ = 1;
    }

    void markBottom(std::size_t i) {
        marks_.push_back({i, -1.0f});
        bottomIndex_ = i;
        pullbackHigh_ = 0.0f;
        pullbackLow_ = 0.0f;
        direction_ = -1;
    }

    std::span<const float> high_;
    std::span<const float> low_;
    bool pullbackRule_;
    std::vector<SegmentMark>& marks_;

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

}  // namespace

std::vector<SegmentMark> CalcSegmentMarks(std::span<const float> bi, std::span<const float> high,
                                          std::span<const float> low, PullbackRule rule) {
    std::vector<SegmentMark> marks;
    SegmentMachine machine(high, low, rule, marks);
    for (std::size_t i = 0; i < bi.size(); ++i) {
        // Bars without a stroke end change nothing; most bars are such bars.
        if (bi[i] == 1.0f || bi[i] == -1.0f) {
            machine.step(i, bi[i]);
        }
    }
    return marks;
}

void WriteSegmentMarks(std::span<const SegmentMark> marks, std::span<float> out) noexcept {
    std::fill(out.begin(), out.end(), 0.0f);
    for (const SegmentMark& m : marks) {
        out[m.bar] = m.value;
    }
}

std::vector<float> CalcSegment(std::span<const float> bi, std::span<const float> high,
                               std::span<const float> low, PullbackRule rule) {
    std::vector<float> pOut(bi.size(), 0.0f);
    WriteSegmentMarks(CalcSegmentMarks(bi, high, low, rule), pOut);
    return pOut;
}

}  // namespace vlm
