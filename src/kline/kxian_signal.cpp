#include "kline/kxian_signal.h"

#include "kline/kxian_chuli.h"

namespace vlm {

std::vector<float> CalcKxianSignal(std::span<const float> high, std::span<const float> low) {
    std::vector<float> pOut(high.size(), 0.0f);
    KxianChuLi kxianChuLi;
    kxianChuLi.reserve(high.size());
    for (std::size_t i = 0; i < high.size(); ++i) {
        kxianChuLi.AddKxian(high[i], low[i]);
    }
    const std::vector<Kxian>& list = kxianChuLi.kxianList;
    if (list.empty()) {
        return pOut;
    }
    for (std::size_t k = 0; k + 1 < list.size(); ++k) {
        if (list[k].direction != list[k + 1].direction) {
            pOut[static_cast<std::size_t>(list[k].extremeIndex)] =
                list[k].direction == 1 ? 1.0f : -1.0f;
        }
    }
    // The last record is marked although nothing confirms it yet.
    const Kxian& last = list.back();
    pOut[static_cast<std::size_t>(last.extremeIndex)] = last.direction == 1 ? 1.0f : -1.0f;
    return pOut;
}

}  // namespace vlm
