#include "pivot/pivot_tracker.h"

#include <algorithm>

namespace vlm {

float PivotTracker::minHigh() const { return std::min(topHigh[0], topHigh[1]); }
float PivotTracker::maxLow() const { return std::max(bottomLow[0], bottomLow[1]); }

bool PivotTracker::AddTop(std::int32_t bar, float high) {
    topBar[2] = topBar[1];
    topHigh[2] = topHigh[1];
    topBar[1] = topBar[0];
    topHigh[1] = topHigh[0];
    topBar[0] = bar;
    topHigh[0] = high;
    if (isOpen != 0) {
        if (high < lower) {
            exitDirection = -1;
            end = std::max(end, topBar[1]);
            return true;
        }
        end = std::max(end, bottomBar[0]);  // the zone bounds never move
        return false;
    }
    const bool slotsFilled = topBar[2] > 0 && topBar[1] > 0 && topBar[0] > 0 &&
                             bottomBar[1] > 0 && bottomBar[0] > 0;
    const float upperBound = minHigh();
    const float lowerBound = maxLow();
    if (slotsFilled && topHigh[2] > topHigh[1] && lowerBound < upperBound) {
        trend = -1;
        start = bottomBar[1];
        end = bar;
        upper = upperBound;
        lower = lowerBound;
        isOpen = 1;
    }
    return false;
}

bool PivotTracker::AddBottom(std::int32_t bar, float low) {
    bottomBar[2] = bottomBar[1];
    bottomLow[2] = bottomLow[1];
    bottomBar[1] = bottomBar[0];
    bottomLow[1] = bottomLow[0];
    bottomBar[0] = bar;
    bottomLow[0] = low;
    if (isOpen != 0) {
        if (low > upper) {
            exitDirection = 1;
            end = std::max(end, bottomBar[1]);
            return true;
        }
        end = std::max(end, topBar[0]);
        return false;
    }
    const bool slotsFilled = topBar[1] > 0 && topBar[0] > 0 && bottomBar[2] > 0 &&
                             bottomBar[1] > 0 && bottomBar[0] > 0;
    const float upperBound = minHigh();
    const float lowerBound = maxLow();
    if (slotsFilled && bottomLow[2] < bottomLow[1] && lowerBound < upperBound) {
        trend = 1;
        start = topBar[1];
        end = bar;
        upper = upperBound;
        lower = lowerBound;
        isOpen = 1;
    }
    return false;
}

}  // namespace vlm
