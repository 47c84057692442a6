#pragma once
// The pivot under construction: the three latest stroke tops and bottoms and
// the zone they opened.

#include <cstdint>

namespace vlm {

class PivotTracker {
public:
    // Feeds a stroke top; true when it closes the open pivot.
    bool AddTop(std::int32_t bar, float high);
    // Feeds a stroke bottom; true when it closes the open pivot.
    bool AddBottom(std::int32_t bar, float low);
    void Reset() { *this = PivotTracker{}; }

    // A slot holding bar 0 counts as empty, so a turning point at bar 0
    // never takes part in forming a pivot.
    std::uint8_t isOpen = 0;
    std::int32_t topBar[3] = {0, 0, 0};  // [0] is the newest
    std::int32_t bottomBar[3] = {0, 0, 0};
    float topHigh[3] = {0.0f, 0.0f, 0.0f};
    float bottomLow[3] = {0.0f, 0.0f, 0.0f};
    std::int32_t start = 0;
    std::int32_t end = 0;
    float upper = 0.0f;
    float lower = 0.0f;
    std::int32_t trend = 0;          // -1 formed falling, +1 formed rising
    std::int32_t exitDirection = 0;  // -1 closed by a top, +1 closed by a bottom

    friend bool operator==(const PivotTracker&, const PivotTracker&) = default;

private:
    // The band the latest strokes share. The newer slot wins unless the older
    // one lies strictly beyond it (this decides NaN and signed zeros).
    [[nodiscard]] float minHigh() const;
    [[nodiscard]] float maxLow() const;
};

}  // namespace vlm
