#pragma once
// Pivot zones: price bands shared by three consecutive strokes.

#include <cstdint>
#include <span>
#include <vector>

namespace vlm {

struct Pivot {
    std::int32_t start = 0;  // turning point where the zone begins
    std::int32_t end = 0;    // turning point where it ends
    float upper = 0.0f;
    float lower = 0.0f;  // always strictly below upper
    float trend = 0.0f;  // -1.0 formed in a falling move, +1.0 in a rising one

    friend bool operator==(const Pivot&, const Pivot&) = default;
};

// Closed pivots in the order they closed (ascending start). Every one has
// 0 < start, start + 2 <= end < bar count, lower < upper, and starts at or
// after the end of the one before it.
using ZhongShuList = std::vector<Pivot>;

struct PivotListOptions {
    // Also list the pivot still open when the bars run out. The host's
    // functions leave it out; a chart may want to show the pivot under way.
    bool includeOpenPivot = false;
};

ZhongShuList CalcPivotList(std::span<const float> bi, std::span<const float> high,
                           std::span<const float> low, PivotListOptions options = {});

}  // namespace vlm
