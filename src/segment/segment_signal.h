#pragma once
// Functions 3 and 4: segments over the stroke signal.

#include <cstddef>
#include <span>
#include <vector>

namespace vlm {

// Whether a segment may also reverse by breaking its first pullback.
enum class PullbackRule { Apply, Ignore };

// A segment end: 1.0 (top) or -1.0 (bottom) at a bar.
struct SegmentMark {
    std::size_t bar;
    float value;
};

// The one segment state machine; the rule is its only variation. Returns
// the marks in bar order (a moved end mark replaces the one it moves).
std::vector<SegmentMark> CalcSegmentMarks(std::span<const float> bi, std::span<const float> high,
                                          std::span<const float> low, PullbackRule rule);

// Zeroes `out` and writes the marks; cannot fail.
void WriteSegmentMarks(std::span<const SegmentMark> marks, std::span<float> out) noexcept;

// The marks as one value per bar.
std::vector<float> CalcSegment(std::span<const float> bi, std::span<const float> high,
                               std::span<const float> low, PullbackRule rule);

// Function 3: three reversal rules (start broken, lower top then lower
// bottom or its mirror, first pullback broken).
inline std::vector<float> CalcSegmentSignal(std::span<const float> bi,
                                            std::span<const float> high,
                                            std::span<const float> low) {
    return CalcSegment(bi, high, low, PullbackRule::Apply);
}

// Function 4: the same without the pullback rule.
inline std::vector<float> CalcSegmentSignalNoPullback(std::span<const float> bi,
                                                      std::span<const float> high,
                                                      std::span<const float> low) {
    return CalcSegment(bi, high, low, PullbackRule::Ignore);
}

}  // namespace vlm
