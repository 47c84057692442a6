#include "stroke/bi_signal.h"

#include "kline/kxian_chuli.h"
#include "stroke/bi_chuli.h"

namespace vlm {

std::vector<float> CalcBiSignal(std::span<const float> high, std::span<const float> low) {
    std::vector<float> pOut(high.size(), 0.0f);
    KxianChuLi kxianChuLi;
    kxianChuLi.reserve(high.size());
    for (std::size_t i = 0; i < high.size(); ++i) {
        kxianChuLi.AddKxian(high[i], low[i]);
    }
    BiChuLi biChuLi;
    biChuLi.build(kxianChuLi.kxianList);
    for (const Bi& bi : biChuLi.biList) {
        pOut[static_cast<std::size_t>(bi.kxianList.back().extremeIndex)] =
            bi.direction == 1 ? kStrokeTop : kStrokeBottom;
    }
    return pOut;
}

}  // namespace vlm
