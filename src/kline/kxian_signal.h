#pragma once
// Function 1: turning points of the merged bars.

#include <span>
#include <vector>

#include "kline/kxian_chuli.h"

namespace vlm {

// 1.0 on the extreme bar of every up record followed by a down record, -1.0
// for the mirror case, and the last record's extreme marked with its
// direction. One value per bar.
std::vector<float> CalcKxianSignal(std::span<const float> high, std::span<const float> low);

// The same signal written over `out` (one value per bar, every value
// written) from an already merged list; cannot fail.
void WriteKxianSignal(std::span<const Kxian> kxianList, std::span<float> out) noexcept;

}  // namespace vlm
