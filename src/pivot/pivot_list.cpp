#include "pivot/pivot_list.h"

#include <algorithm>

#include "pivot/pivot_tracker.h"

namespace vlm {

namespace {

// Only the stroke tops and bottoms move the tracker, so the walk visits them
// alone; bars in between would leave it untouched.
struct TurningPoint {
    std::int32_t bar;
    bool isTop;
    float price;  // the high at a top, the low at a bottom
};

std::vector<TurningPoint> turningPoints(std::span<const float> bi, std::span<const float> high,
                                        std::span<const float> low) {
    std::vector<TurningPoint> points;
    for (std::size_t i = 0; i < bi.size(); ++i) {
        if (bi[i] == 1.0f) {
            points.push_back({static_cast<std::int32_t>(i), true, high[i]});
        } else if (bi[i] == -1.0f) {
            points.push_back({static_cast<std::int32_t>(i), false, low[i]});
        }
    }
    return points;
}

std::size_t firstPointAtOrAfter(const std::vector<TurningPoint>& points, std::int32_t bar) {
    const auto it = std::lower_bound(
        points.begin(), points.end(), bar,
        [](const TurningPoint& p, std::int32_t b) { return p.bar < b; });
    return static_cast<std::size_t>(it - points.begin());
}

struct TrimResult {
    bool retain;
    std::int32_t end;
    std::int32_t resumeBar;
};

// A pivot that closed against its trend is cut back to the last opposite
// turning point before its most extreme point in the trend's direction (the
// highest top of a rising pivot, the lowest bottom of a falling one), and
// kept only when that point is the third of its kind or later. On equal
// prices the later point wins.
TrimResult trimAgainstTrend(const std::vector<TurningPoint>& points, std::int32_t start,
                            std::int32_t end, bool rising) {
    int counter = 0;
    float best = 0.0f;
    std::int32_t bestBar = 0;
    std::int32_t cut = 0;
    std::int32_t lastOpposite = 0;
    bool retain = false;
    for (std::size_t k = firstPointAtOrAfter(points, start);
         k < points.size() && points[k].bar <= end; ++k) {
        const TurningPoint& p = points[k];
        if (p.isTop != rising) {
            lastOpposite = p.bar;
            continue;
        }
        if (counter == 0) {
            counter = 1;
            best = p.price;
            bestBar = p.bar;
            continue;
        }
        ++counter;
        if (rising ? p.price >= best : p.price <= best) {
            retain = retain || counter >= 3;
            best = p.price;
            bestBar = p.bar;
            cut = lastOpposite;
        }
    }
    // A kept cut lies at or after the bar that formed the pivot, so at least
    // two bars after its start, whatever order the turning points come in.
    return {retain, retain ? cut : end, bestBar};
}

}  // namespace

ZhongShuList CalcPivotList(std::span<const float> bi, std::span<const float> high,
                           std::span<const float> low, PivotListOptions options) {
    ZhongShuList list;
    const std::vector<TurningPoint> points = turningPoints(bi, high, low);
    PivotTracker ZhongShuOne;
    std::int32_t walkStart = 0;
    std::size_t k = 0;
    while (k < points.size()) {
        const TurningPoint& p = points[k];
        const bool closed =
            p.isTop ? ZhongShuOne.AddTop(p.bar, p.price) : ZhongShuOne.AddBottom(p.bar, p.price);
        if (!closed) {
            ++k;
            continue;
        }
        Pivot pivot{ZhongShuOne.start, ZhongShuOne.end, ZhongShuOne.upper, ZhongShuOne.lower,
                    static_cast<float>(ZhongShuOne.trend)};
        bool retain = true;
        std::int32_t resumeBar = pivot.end;
        const bool risingClosedByTop = ZhongShuOne.trend == 1 && ZhongShuOne.exitDirection == -1;
        const bool fallingClosedByBottom =
            ZhongShuOne.trend == -1 && ZhongShuOne.exitDirection == 1;
        if (risingClosedByTop || fallingClosedByBottom) {
            const TrimResult trim =
                trimAgainstTrend(points, pivot.start, pivot.end, risingClosedByTop);
            retain = trim.retain;
            pivot.end = trim.end;
            resumeBar = trim.resumeBar;
        }
        if (retain) {
            list.push_back(pivot);
        }
        // Non-alternating signals can send the walk back to the very bar its
        // fresh tracker began at, with the same state: step past it instead.
        if (resumeBar <= walkStart) {
            resumeBar = walkStart + 1;
        }
        ZhongShuOne.Reset();
        walkStart = resumeBar;
        k = firstPointAtOrAfter(points, resumeBar);
    }
    if (options.includeOpenPivot && ZhongShuOne.isOpen != 0) {
        list.push_back(Pivot{ZhongShuOne.start, ZhongShuOne.end, ZhongShuOne.upper,
                             ZhongShuOne.lower, static_cast<float>(ZhongShuOne.trend)});
    }
    return list;
}

}  // namespace vlm
