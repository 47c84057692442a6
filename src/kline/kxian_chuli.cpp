#include "kline/kxian_chuli.h"

namespace vlm {

// The tests run in this order and every comparison is false against a NaN,
// so a bar with a NaN price always lands in the last branch.
void KxianChuLi::AddKxian(float high, float low) {
    if (kxianList.empty()) {
        kxianList.push_back(Kxian{high, low, 1, 0, 0, 0});
        return;
    }
    Kxian& last = kxianList.back();
    const std::int32_t bar = last.endIndex + 1;
    if (high > last.high && low > last.low) {
        kxianList.push_back(Kxian{high, low, 1, bar, bar, bar});
        return;
    }
    if (high < last.high && low < last.low) {
        kxianList.push_back(Kxian{high, low, -1, bar, bar, bar});
        return;
    }
    if (high <= last.high && low >= last.low) {
        // The record contains the bar: the extreme stays where it was.
        if (last.direction == 1) {
            last.low = low;
        } else {
            last.high = high;
        }
        last.endIndex = bar;
        return;
    }
    // The bar contains the record (or a price is NaN): the extreme moves to it.
    if (last.direction == 1) {
        last.high = high;
    } else {
        last.low = low;
    }
    last.endIndex = bar;
    last.extremeIndex = bar;
}

}  // namespace vlm
