#pragma once
// Functions 5 to 9: one property of every listed pivot, per bar.

#include <span>
#include <vector>

#include "pivot/pivot_list.h"

namespace vlm {

// In function order, 5 to 9.
enum class PivotOutput {
    Upper,     // function 5
    Lower,     // function 6
    EndMarks,  // function 7: 1.0 just after start, 2.0 just before end
    Trend,     // function 8
    RunCount,  // function 9: pivots in a row, ending with this one, of its trend
};

// The run count of `pivot` listed right after `previous` (null when it is
// the first), whose run count was `previousCount`.
inline float ContinueRunCount(const Pivot* previous, float previousCount, const Pivot& pivot) {
    return (previous != nullptr && previous->trend == pivot.trend) ? previousCount + 1.0f : 1.0f;
}

// The run count `pivot` takes when it is listed after every pivot of
// `listed`, whose run counts are `runCounts` (one each): what the pivot
// under way will count once listed.
inline float RunCountAfter(std::span<const Pivot> listed, std::span<const float> runCounts, const Pivot& pivot) {
    return ContinueRunCount(listed.empty() ? nullptr : &listed.back(),
                            runCounts.empty() ? 0.0f : runCounts.back(), pivot);
}

// For each listed pivot, the number of pivots in a row, ending with it, that
// share its trend (what function 9 writes).
std::vector<float> PivotRunCounts(const ZhongShuList& list);

// Zeroes `out`, then writes each pivot's value over the bars strictly inside
// it. Never writes outside `out`.
void WritePivotOutput(const ZhongShuList& list, PivotOutput what, std::span<float> out) noexcept;

}  // namespace vlm
