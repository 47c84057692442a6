#pragma once
// Function 1: turning points of the merged bars.

#include <span>
#include <vector>

#include "kline/kxian_chuli.h"
#include "signal/signal_mark.h"

namespace vlm {

// The mark a merged record leaves where it turns: its extreme bar, 1.0 for
// an up record's high, -1.0 for a down record's low.
inline SignalMark KxianMark(const Kxian& record) {
    return {static_cast<std::size_t>(record.extremeIndex), MarkValue(record.direction)};
}

// Whether record k turns: the record after it runs the other way.
inline bool KxianTurns(std::span<const Kxian> list, std::size_t k) {
    return list[k].direction != list[k + 1].direction;
}

// 1.0 on the extreme bar of every up record followed by a down record, -1.0
// for the mirror case, and the last record's extreme marked with its
// direction. One value per bar.
std::vector<float> CalcKxianSignal(std::span<const float> high, std::span<const float> low);

// The same signal written over `out` (one value per bar, every value
// written) from an already merged list; cannot fail.
void WriteKxianSignal(std::span<const Kxian> kxianList, std::span<float> out) noexcept;

// The same signal a piece at a time, for a list that grows: marks records
// from..to - 1 (to < list.size()), each of which turns when the record after
// it runs the other way, over an `out` zeroed beforehand; MarkLastKxian then
// marks the last record once the list is complete.
void MarkKxianTurns(std::span<const Kxian> list, std::size_t from, std::size_t to, std::span<float> out) noexcept;
void MarkLastKxian(std::span<const Kxian> list, std::span<float> out) noexcept;

}  // namespace vlm
