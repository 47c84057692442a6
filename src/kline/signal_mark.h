#pragma once
// A mark of a signal series: 1.0 (a top) or -1.0 (a bottom) at one bar. The
// turning-point, stroke and segment signals are each a list of such marks in
// bar order, 0.0 everywhere else.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vlm {

struct SignalMark {
    std::size_t bar;
    float value;

    friend bool operator==(const SignalMark&, const SignalMark&) = default;
};

// A mark with its bar's price, as the walks over a signal's marks read it.
struct TurningPoint {
    std::int32_t bar;
    bool isTop;
    float price;  // the high at a top, the low at a bottom

    friend bool operator==(const TurningPoint&, const TurningPoint&) = default;
};

// The turning point a mark stands for, with its bar's high at a top and its
// low at a bottom.
inline TurningPoint PointOfMark(const SignalMark& mark, std::span<const float> high, std::span<const float> low) {
    const bool top = mark.value == 1.0f;
    return {static_cast<std::int32_t>(mark.bar), top, top ? high[mark.bar] : low[mark.bar]};
}

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
