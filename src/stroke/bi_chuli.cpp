#include "stroke/bi_chuli.h"

#include <utility>

namespace vlm {

bool confirmBi(std::span<const Kxian> list, int direction) {
    const std::size_t n = list.size();
    if (n < 4 || (direction != -1 && direction != 1)) {
        return false;
    }
    for (std::size_t i = 2; i < n; ++i) {
        if (direction == -1) {
            if (list[i - 2].low > list[i - 1].low && list[i - 1].low > list[i].low) {
                for (std::size_t j = i + 1; j < n; ++j) {
                    if (list[j].low < list[i].low) {
                        return true;
                    }
                }
            }
        } else if (list[i - 2].high < list[i - 1].high && list[i - 1].high < list[i].high) {
            for (std::size_t j = i + 1; j < n; ++j) {
                if (list[j].high > list[i].high) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool PendingConfirmation::add(const Kxian& bar) {
    if (confirmed_ || (direction_ != -1 && direction_ != 1)) {
        return confirmed_;
    }
    const float price = priceOf(bar);
    // A pair needs a run end before the bar, so at least four bars: the
    // length test of confirmBi holds by itself here.
    if (haveRunEnd_ && beyond(price, nearestRunEnd_)) {
        confirmed_ = true;
        return true;
    }
    if (size_ >= 2 && beyond(newer_, older_) && beyond(price, newer_)) {
        if (!haveRunEnd_ || beyond(nearestRunEnd_, price)) {
            nearestRunEnd_ = price;
        }
        haveRunEnd_ = true;
    }
    older_ = newer_;
    newer_ = price;
    ++size_;
    return false;
}

void BiChuLi::build(std::span<const Kxian> kxians) {
    std::vector<Kxian> tempKxianList;
    PendingConfirmation pending(-1);
    for (const Kxian& k : kxians) {
        if (biList.empty()) {
            biList.push_back(Bi{1, k.startIndex, k.endIndex, k.high, k.low, {k}});
            pending = PendingConfirmation(-1);
            continue;
        }
        Bi& stroke = biList.back();
        const bool up = stroke.direction == 1;
        // An equal extreme extends too; a NaN never does.
        if (up ? k.high >= stroke.high : k.low <= stroke.low) {
            stroke.endIndex = k.endIndex;
            (up ? stroke.high : stroke.low) = up ? k.high : k.low;
            stroke.kxianList.insert(stroke.kxianList.end(), tempKxianList.begin(),
                                    tempKxianList.end());
            stroke.kxianList.push_back(k);
            tempKxianList.clear();
            pending = PendingConfirmation(-stroke.direction);
            continue;
        }
        tempKxianList.push_back(k);
        if (!pending.add(k)) {
            continue;
        }
        // The bar that confirms is the newest pending bar: it ends the new stroke.
        Bi next{-stroke.direction,
                stroke.endIndex,
                k.endIndex,
                up ? stroke.high : k.high,
                up ? k.low : stroke.low,
                std::move(tempKxianList)};
        tempKxianList = {};
        pending = PendingConfirmation(-next.direction);
        biList.push_back(std::move(next));
    }
}

}  // namespace vlm
