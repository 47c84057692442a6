#pragma once
// Strokes: runs of merged bars from one confirmed top or bottom to the next.

#include <cstdint>
#include <span>
#include <vector>

#include "kline/kxian_chuli.h"

namespace vlm {

struct Bi {
    std::int32_t direction = 1;  // 1 ends at a top, -1 ends at a bottom
    std::int32_t startIndex = 0;
    std::int32_t endIndex = 0;
    float high = 0.0f;  // up: its top; down: the high of the up stroke before it
    float low = 0.0f;   // down: its bottom; up: the low of the stroke before it
    std::vector<Kxian> kxianList;  // never empty; the last element is the stroke's end
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

private:
    [[nodiscard]] float priceOf(const Kxian& bar) const {
        return direction_ == -1 ? bar.low : bar.high;
    }
    [[nodiscard]] bool beyond(float a, float b) const { return direction_ == -1 ? a < b : a > b; }

    int direction_;
    std::size_t size_ = 0;
    float older_ = 0.0f;  // price of the bar two back
    float newer_ = 0.0f;  // price of the bar one back
    bool haveRunEnd_ = false;
    float nearestRunEnd_ = 0.0f;
    bool confirmed_ = false;
};

class BiChuLi {
public:
    // Appends the strokes of a merged-bar list; called once, on an empty biList.
    void build(std::span<const Kxian> kxians);

    std::vector<Bi> biList;
};

}  // namespace vlm
