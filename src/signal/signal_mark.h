#pragma once
// A mark of a signal series: 1.0 (a top) or -1.0 (a bottom) at one bar. The
// turning-point, stroke and segment signals are each a list of such marks in
// bar order, 0.0 everywhere else.

#include <algorithm>
#include <cstddef>
#include <span>

namespace vlm {

struct SignalMark {
    std::size_t bar;
    float value;

    friend bool operator==(const SignalMark&, const SignalMark&) = default;
};

// The mark of a record or stroke of `direction` (1 up, -1 down): its top or bottom.
inline float MarkValue(int direction) { return direction == 1 ? 1.0f : -1.0f; }

// Zeroes `out` and writes the marks that fall inside it; cannot fail.
inline void WriteSignalMarks(std::span<const SignalMark> marks, std::span<float> out) noexcept {
    std::fill(out.begin(), out.end(), 0.0f);
    for (const SignalMark& m : marks) {
        if (m.bar < out.size()) {
            out[m.bar] = m.value;
        }
    }
}

}  // namespace vlm
