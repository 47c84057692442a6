#include "pivot/pivot_tracker.h"

#include <algorithm>

namespace vlm {

namespace {

// The newest turning point of a kind goes into slot 0; the older ones move up.
void shiftIn(std::int32_t (&bars)[3], float (&prices)[3], std::int32_t bar, float price) {
    bars[2] = bars[1];
    prices[2] = prices[1];
    bars[1] = bars[0];
    prices[1] = prices[0];
    bars[0] = bar;
    prices[0] = price;
}

}  // namespace

float PivotTracker::minHigh() const { return std::min(topHigh[0], topHigh[1]); }
float PivotTracker::maxLow() const { return std::max(bottomLow[0], bottomLow[1]); }

bool PivotTracker::AddTop(std::int32_t bar, float high) {
    shiftIn(topBar, topHigh, bar, high);
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
    shiftIn(bottomBar, bottomLow, bar, low);
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
