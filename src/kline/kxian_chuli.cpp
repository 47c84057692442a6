#include "kline/kxian_chuli.h"

#include "kline/bar_count.h"

namespace vlm {

void KxianChuLi::AddKxian(float high, float low) {
    if (!kxianList.empty()) {
        RequireBars(static_cast<std::size_t>(kxianList.back().endIndex) + 2, kMaxBars, kMaxBars);
    }
    if (kxianList.empty()) {
        kxianList.push_back(Kxian{high, low, 1, 0, 0, 0});
        return;
    }
    const MergeResult r = mergeBar(kxianList.back(), high, low);
    if (r.opensRecord) {
        kxianList.push_back(r.record);
    } else {
        kxianList.back() = r.record;
    }
}

void KxianChuLi::AddKxians(std::span<const float> high, std::span<const float> low) {
    if (high.empty()) return;
    const std::size_t taken =
        kxianList.empty() ? 0 : static_cast<std::size_t>(kxianList.back().endIndex) + 1;
    RequireBars(taken + high.size(), taken + high.size(), taken + low.size());
    std::size_t size = kxianList.size();
    // Room for one record per bar, so every bar writes without a check:
    // a new record lands after the last, a merge overwrites the last.
    kxianList.resize(size + high.size());
    Kxian* list = kxianList.data();
    std::size_t i = 0;
    if (size == 0) {
        list[0] = Kxian{high[0], low[0], 1, 0, 0, 0};
        size = 1;
        i = 1;
    }
    // The last record is carried in a local, not re-read from the list, so
    // that no bar waits on the store of the one before.
    Kxian last = list[size - 1];
    for (; i < high.size(); ++i) {
        const MergeResult r = mergeBar(last, high[i], low[i]);
        size += r.opensRecord ? 1 : 0;
        list[size - 1] = r.record;
        last = r.record;
    }
    kxianList.resize(size);
}

}  // namespace vlm
