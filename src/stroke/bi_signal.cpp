#include "stroke/bi_signal.h"

#include <algorithm>

#include "kline/kxian_chuli.h"

namespace vlm {

std::vector<float> CalcBiSignal(std::span<const float> high, std::span<const float> low, BiChuLi::Bars kept) {
    std::vector<float> pOut(high.size(), 0.0f);
    KxianChuLi kxianChuLi;
    kxianChuLi.AddKxians(high, low);
    BiChuLi biChuLi(kept);
    biChuLi.build(kxianChuLi.kxianList);
    WriteBiSignal(biChuLi.biList, pOut);
    return pOut;
}

void WriteBiSignal(std::span<const Bi> biList, std::span<float> out) noexcept {
    std::fill(out.begin(), out.end(), 0.0f);
    for (const Bi& bi : biList) {
        const SignalMark m = BiMark(bi);
        if (bi.kxianList.back().extremeIndex >= 0 && m.bar < out.size()) {
            out[m.bar] = m.value;
        }
    }
}

}  // namespace vlm
