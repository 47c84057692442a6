#include "kline/kxian_signal.h"

#include <algorithm>

#include "signal/signal_mark.h"

namespace vlm {

namespace {

void mark(std::span<float> out, const Kxian& record) noexcept {
    const SignalMark m = KxianMark(record);
    if (record.extremeIndex >= 0 && m.bar < out.size()) {
        out[m.bar] = m.value;
    }
}

}  // namespace

std::vector<float> CalcKxianSignal(std::span<const float> high, std::span<const float> low) {
    std::vector<float> pOut(high.size(), 0.0f);
    KxianChuLi kxianChuLi;
    kxianChuLi.AddKxians(high, low);
    WriteKxianSignal(kxianChuLi.kxianList, pOut);
    return pOut;
}

void WriteKxianSignal(std::span<const Kxian> list, std::span<float> out) noexcept {
    std::fill(out.begin(), out.end(), 0.0f);
    if (list.empty()) {
        return;
    }
    MarkKxianTurns(list, 0, list.size() - 1, out);
    MarkLastKxian(list, out);
}

void MarkKxianTurns(std::span<const Kxian> list, std::size_t from, std::size_t to, std::span<float> out) noexcept {
    for (std::size_t k = from; k < to; ++k) {
        if (KxianTurns(list, k)) {
            mark(out, list[k]);
        }
    }
}

void MarkLastKxian(std::span<const Kxian> list, std::span<float> out) noexcept {
    // The last record is marked although nothing confirms it yet.
    if (!list.empty()) {
        mark(out, list.back());
    }
}

}  // namespace vlm
