#include "segment/segment_signal.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "kline/bar_count.h"

namespace vlm {

void SegmentMachine::step(std::size_t i, float signal, std::span<const float> high,
                          std::span<const float> low, std::vector<SignalMark>& marks) {
    const bool top = signal == 1.0f;
    const bool bottom = signal == -1.0f;
    if (top) {
        prevTopHigh_ = lastTopHigh_;
        lastTopHigh_ = high[i];
    } else if (bottom) {
        prevBottomLow_ = lastBottomLow_;
        lastBottomLow_ = low[i];
    }
    if (direction_ == 0) {
        if (top) {
            markTop(i, marks);
        } else if (bottom) {
            markBottom(i, marks);
        }
    } else if (direction_ == 1) {
        if (top) {
            if (high[i] > high[topIndex_]) {
                marks.pop_back();  // the top mark moves: the segment's end is the last mark
                markTop(i, marks);
            }
        } else if (bottom) {
            upSegmentMeetsBottom(i, low[i], low[bottomIndex_], marks);
        }
    } else {
        if (bottom) {
            if (low[i] < low[bottomIndex_]) {
                marks.pop_back();
                markBottom(i, marks);
            }
        } else if (top) {
            downSegmentMeetsTop(i, high[i], high[topIndex_], marks);
        }
    }
}

bool SegmentMachine::extremesSet() const {
    return prevTopHigh_ > 0.0f && lastTopHigh_ > 0.0f && prevBottomLow_ > 0.0f &&
           lastBottomLow_ > 0.0f;
}

void SegmentMachine::upSegmentMeetsBottom(std::size_t i, float low, float startLow,
                                          std::vector<SignalMark>& marks) {
    const bool startBroken = low < startLow;
    const bool lowerTopLowerBottom =
        extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ < prevBottomLow_;
    if (startBroken || lowerTopLowerBottom) {
        markBottom(i, marks);
    } else if (pullbackRule_) {
        if (pullbackLow_ == 0.0f) {
            pullbackLow_ = low;
        } else if (low < pullbackLow_) {
            markBottom(i, marks);
        }
    }
}

void SegmentMachine::downSegmentMeetsTop(std::size_t i, float high, float startHigh,
                                         std::vector<SignalMark>& marks) {
    const bool startBroken = high > startHigh;
    const bool higherBottomHigherTop =
        extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ > prevBottomLow_;
    if (startBroken || higherBottomHigherTop) {
        markTop(i, marks);
    } else if (pullbackRule_) {
        if (pullbackHigh_ == 0.0f) {
            pullbackHigh_ = high;
        } else if (high > pullbackHigh_) {
            markTop(i, marks);
        }
    }
}

// Every mark, a move included, starts a new pullback.
void SegmentMachine::markTop(std::size_t i, std::vector<SignalMark>& marks) {
    marks.push_back({i, 1.0f});
    topIndex_ = i;
    pullbackHigh_ = 0.0f;
    pullbackLow_ = 0.0f;
    direction_ = 1;
}

void SegmentMachine::markBottom(std::size_t i, std::vector<SignalMark>& marks) {
    marks.push_back({i, -1.0f});
    bottomIndex_ = i;
    pullbackHigh_ = 0.0f;
    pullbackLow_ = 0.0f;
    direction_ = -1;
}

std::vector<SignalMark> CalcSegmentMarks(std::span<const float> bi, std::span<const float> high,
                                         std::span<const float> low, PullbackRule rule) {
    RequireBars(bi.size(), high.size(), low.size());
    std::vector<SignalMark> marks;
    SegmentMachine machine(rule);
    for (std::size_t i = 0; i < bi.size(); ++i) {
        // Bars without a stroke end change nothing; most bars are such bars.
        if (bi[i] == 1.0f || bi[i] == -1.0f) {
            machine.step(i, bi[i], high, low, marks);
        }
    }
    return marks;
}

std::vector<SignalMark> CalcSegmentMarks(std::span<const TurningPoint> strokeEnds, std::span<const float> high,
                                         std::span<const float> low, PullbackRule rule) {
    RequireBars(high.size(), high.size(), low.size());
    std::vector<SignalMark> marks;
    SegmentMachine machine(rule);
    std::int64_t before = -1;
    for (const TurningPoint& p : strokeEnds) {
        if (p.bar <= before || static_cast<std::size_t>(p.bar) >= high.size()) {
            throw std::invalid_argument("stroke ends must ascend within the bars");
        }
        before = p.bar;
        machine.step(static_cast<std::size_t>(p.bar), p.isTop ? 1.0f : -1.0f, high, low, marks);
    }
    return marks;
}

std::vector<float> CalcSegment(std::span<const float> bi, std::span<const float> high,
                               std::span<const float> low, PullbackRule rule) {
    std::vector<float> pOut(bi.size(), 0.0f);
    WriteSignalMarks(CalcSegmentMarks(bi, high, low, rule), pOut);
    return pOut;
}

}  // namespace vlm
