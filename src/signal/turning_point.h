#pragma once
// A stroke top or bottom as the walks over a signal's marks read it: the
// bar, which side, and the price there.

#include <cstdint>
#include <span>

#include "signal/signal_mark.h"

namespace vlm {

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

}  // namespace vlm
