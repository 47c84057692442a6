#pragma once
// Function 2: the stroke signal every later function reads.

#include <span>
#include <vector>

#include "signal/signal_mark.h"
#include "stroke/bi_chuli.h"

namespace vlm {

// Stroke signal values: a stroke top, a stroke bottom, no stroke end.
inline constexpr float kStrokeTop = 1.0f;
inline constexpr float kStrokeBottom = -1.0f;

// The mark a stroke leaves at its end: the extreme bar of its last merged
// bar, kStrokeTop for an up stroke, kStrokeBottom for a down one.
inline SignalMark BiMark(const Bi& stroke) {
    return {static_cast<std::size_t>(stroke.kxianList.back().extremeIndex),
            stroke.direction == 1 ? kStrokeTop : kStrokeBottom};
}

// 1.0 on the bar of each up stroke's top, -1.0 on the bar of each down
// stroke's bottom (the extreme bar of the stroke's last merged bar), 0.0
// elsewhere. Function 2 keeps each stroke's merged bars; a caller that wants
// the signal alone may have the strokes keep their end bars only (the same
// signal, with no copy of every merged bar).
std::vector<float> CalcBiSignal(std::span<const float> high, std::span<const float> low,
                                BiChuLi::Bars kept = BiChuLi::Bars::All);

// The same signal written over `out` from built strokes; cannot fail.
void WriteBiSignal(std::span<const Bi> biList, std::span<float> out) noexcept;

}  // namespace vlm
