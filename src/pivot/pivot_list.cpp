#include "pivot/pivot_list.h"

#include "pivot/pivot_walk.h"

namespace vlm {

ZhongShuList CalcPivotList(std::span<const float> bi, std::span<const float> high,
                           std::span<const float> low, PivotListOptions options) {
    ZhongShuList list;
    const std::vector<TurningPoint> points = turningPoints(bi, high, low);
    PivotWalk walk;
    walk.advance(points, list);
    if (options.includeOpenPivot) {
        if (const std::optional<Pivot> open = walk.openPivot()) {
            list.push_back(*open);
        }
    }
    return list;
}

}  // namespace vlm
