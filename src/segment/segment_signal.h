#pragma once
// Functions 3 and 4: segments over the stroke signal.

#include <span>
#include <vector>

#include "segment/segment_machine.h"
#include "signal/turning_point.h"

namespace vlm {

// The segment ends of a whole stroke signal, in bar order.
std::vector<SignalMark> CalcSegmentMarks(std::span<const float> bi, std::span<const float> high,
                                         std::span<const float> low, PullbackRule rule);

// The same from the stroke signal's turning points (turningPoints of it),
// for callers that hold them already: the machine moves at those bars alone.
// Throws std::invalid_argument unless the points ascend within the bars.
std::vector<SignalMark> CalcSegmentMarks(std::span<const TurningPoint> strokeEnds, std::span<const float> high,
                                         std::span<const float> low, PullbackRule rule);

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
