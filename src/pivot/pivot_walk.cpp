#include "pivot/pivot_walk.h"

#include <algorithm>

#include "kline/bar_count.h"

namespace vlm {

namespace {

std::size_t firstPointAtOrAfter(std::span<const TurningPoint> points, std::int32_t bar) {
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
TrimResult trimAgainstTrend(std::span<const TurningPoint> points, std::int32_t start,
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

Pivot pivotOf(const PivotTracker& t) {
    return Pivot{t.start, t.end, t.upper, t.lower, static_cast<float>(t.trend)};
}

}  // namespace

std::vector<TurningPoint> turningPoints(std::span<const float> bi, std::span<const float> high,
                                        std::span<const float> low) {
    RequireBars(bi.size(), high.size(), low.size());
    std::vector<TurningPoint> points;
    for (std::size_t i = 0; i < bi.size(); ++i) {
        if (bi[i] == 1.0f || bi[i] == -1.0f) points.push_back(PointOfMark({i, bi[i]}, high, low));
    }
    return points;
}

void PivotWalk::advance(std::span<const TurningPoint> points, ZhongShuList& list,
                        std::vector<PivotClose>* closes) {
    // Every step reads points up to the one it feeds (the trim scan ends at
    // the pivot's end, the step back lands at or before the next point), so
    // stopping at the last point and going on later walks the same way.
    while (next_ < points.size()) {
        const TurningPoint& p = points[next_];
        const bool closed =
            p.isTop ? ZhongShuOne.AddTop(p.bar, p.price) : ZhongShuOne.AddBottom(p.bar, p.price);
        if (!closed) {
            ++next_;
            continue;
        }
        Pivot pivot = pivotOf(ZhongShuOne);
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
        if (closes != nullptr) {
            closes->push_back({pivot, retain});
        }
        // Non-alternating signals can send the walk back to the very bar its
        // fresh tracker began at, with the same state: step past it instead.
        if (resumeBar <= walkStart_) {
            resumeBar = walkStart_ + 1;
        }
        ZhongShuOne.Reset();
        walkStart_ = resumeBar;
        next_ = firstPointAtOrAfter(points, resumeBar);
    }
}

bool PivotWalk::fits(std::span<const TurningPoint> points) const {
    const auto isPoint = [points](std::int32_t bar) {
        const auto at = std::lower_bound(points.begin(), points.end(), bar,
                                         [](const TurningPoint& p, std::int32_t b) { return p.bar < b; });
        return at != points.end() && at->bar == bar;
    };
    const PivotTracker& t = ZhongShuOne;
    for (int k = 0; k < 3; ++k) {
        if ((t.topBar[k] != 0 && !isPoint(t.topBar[k])) || (t.bottomBar[k] != 0 && !isPoint(t.bottomBar[k]))) {
            return false;
        }
    }
    if (t.isOpen > 1 || (t.isOpen == 1 && (!isPoint(t.start) || !isPoint(t.end)))) return false;
    return next_ <= points.size() && walkStart_ >= 0;
}

std::optional<Pivot> PivotWalk::openPivot() const {
    if (ZhongShuOne.isOpen == 0) {
        return std::nullopt;
    }
    return pivotOf(ZhongShuOne);
}

}  // namespace vlm
