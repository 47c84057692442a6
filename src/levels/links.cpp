#include "levels/links.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "kline/bar_count.h"

namespace vlm::levels {

namespace {

BaseRange basesOf(const LevelStructures& level, std::int32_t fromBar, std::int32_t toBar) {
    const auto count = static_cast<std::int32_t>(level.firstBase.size());
    if (fromBar < 0 || toBar < fromBar || toBar >= count) {
        throw std::invalid_argument("a structure refers to a bar its level does not have");
    }
    return {level.firstBase[static_cast<std::size_t>(fromBar)],
            level.lastBase[static_cast<std::size_t>(toBar)]};
}

// The base bars of each entry of a list of ends: from the end before it.
std::vector<BaseRange> endRanges(const LevelStructures& level, std::span<const LevelEnd> ends) {
    std::vector<BaseRange> ranges;
    ranges.reserve(ends.size());
    for (std::size_t k = 0; k < ends.size(); ++k) {
        ranges.push_back(basesOf(level, k == 0 ? 0 : ends[k - 1].bar, ends[k].bar));
    }
    return ranges;
}

std::vector<BaseRange> pivotRanges(const LevelStructures& level) {
    std::vector<BaseRange> ranges;
    for (const LevelPivot& p : level.pivots) ranges.push_back(basesOf(level, p.start, p.end));
    return ranges;
}

std::vector<BaseRange> pointRanges(const LevelStructures& level) {
    std::vector<BaseRange> ranges;
    for (const LevelPoint& p : level.points) ranges.push_back(basesOf(level, p.bar, p.bar));
    return ranges;
}

// The entries of `ranges` (in order, never starting earlier than the one
// before) that lie within `outer`: one run, found by its first start.
IndexRange within(std::span<const BaseRange> ranges, const BaseRange& outer) {
    const auto from = std::lower_bound(ranges.begin(), ranges.end(), outer.first,
                                       [](const BaseRange& r, std::int32_t b) { return r.first < b; });
    auto to = from;
    while (to != ranges.end() && outer.contains(*to)) ++to;
    return {static_cast<std::int32_t>(from - ranges.begin()), static_cast<std::int32_t>(to - from)};
}

// A level's bars hold base bars first .. last, in order, within the
// `baseBars` of the base series.
void checkLevel(const LevelStructures& level, std::size_t baseBars) {
    RequireLength("lastBase", level.lastBase.size(), level.firstBase.size());
    std::int64_t after = 0;
    for (std::size_t b = 0; b < level.firstBase.size(); ++b) {
        const std::int32_t first = level.firstBase[b], last = level.lastBase[b];
        if (first < after || last < first || static_cast<std::size_t>(last) >= baseBars) {
            throw std::invalid_argument("firstBase, lastBase: bar " + std::to_string(b) + " holds base bars " +
                                        std::to_string(first) + " to " + std::to_string(last) +
                                        ", out of order or past the " + std::to_string(baseBars) +
                                        " of baseHigh");
        }
        after = std::int64_t{last} + 1;
    }
}

}  // namespace

std::int32_t BarHolding(std::span<const std::int32_t> firstBase, std::int32_t baseBar) {
    const auto it = std::upper_bound(firstBase.begin(), firstBase.end(), baseBar);
    return static_cast<std::int32_t>(it - firstBase.begin()) - 1;
}

LevelLinks LinkLevels(const LevelStructures& higher, const LevelStructures& lower,
                      std::span<const float> higherHigh, std::span<const float> higherLow,
                      std::span<const float> baseHigh, std::span<const float> baseLow) {
    RequireLength("higherHigh", higherHigh.size(), higher.firstBase.size());
    RequireLength("higherLow", higherLow.size(), higher.firstBase.size());
    RequireLength("baseLow", baseLow.size(), baseHigh.size());
    checkLevel(higher, baseHigh.size());
    checkLevel(lower, baseHigh.size());
    const std::vector<BaseRange> lowerStrokes = endRanges(lower, lower.strokes);
    const std::vector<BaseRange> lowerSegments = endRanges(lower, lower.segments);
    const std::vector<BaseRange> lowerPivots = pivotRanges(lower);
    const std::vector<BaseRange> lowerPoints = pointRanges(lower);
    const auto link = [&](const BaseRange& base) {
        return StructureLink{base, Inside{within(lowerStrokes, base), within(lowerSegments, base),
                                          within(lowerPivots, base), within(lowerPoints, base)}};
    };

    LevelLinks links;
    const std::vector<BaseRange> strokes = endRanges(higher, higher.strokes);
    for (const BaseRange& r : strokes) links.strokes.push_back(link(r));
    for (const BaseRange& r : endRanges(higher, higher.segments)) links.segments.push_back(link(r));
    for (const BaseRange& r : pivotRanges(higher)) links.pivots.push_back(link(r));
    for (const BaseRange& r : pointRanges(higher)) links.points.push_back(link(r));

    for (const LevelEnd& end : higher.strokes) {
        const BaseRange bar = basesOf(higher, end.bar, end.bar);
        const bool top = end.direction == 1;
        const float extreme = (top ? higherHigh : higherLow)[static_cast<std::size_t>(end.bar)];
        // The first base bar that made the higher bar's high or low.
        std::int32_t made = bar.first;
        for (std::int32_t b = bar.first; b <= bar.last; ++b) {
            if ((top ? baseHigh : baseLow)[static_cast<std::size_t>(b)] == extreme) {
                made = b;
                break;
            }
        }
        EndMatch match{made, std::nullopt};
        const std::int32_t lowerBar = BarHolding(lower.firstBase, made);
        const auto it = std::lower_bound(lower.strokes.begin(), lower.strokes.end(), lowerBar,
                                         [](const LevelEnd& e, std::int32_t b) { return e.bar < b; });
        if (it != lower.strokes.end() && it->bar == lowerBar && it->direction == end.direction) {
            match.lower = static_cast<std::int32_t>(it - lower.strokes.begin());
        }
        links.strokeEnds.push_back(match);
    }

    for (const LevelPoint& point : higher.points) {
        std::vector<std::int32_t> confirming;
        const auto it = std::lower_bound(higher.strokes.begin(), higher.strokes.end(), point.bar,
                                         [](const LevelEnd& e, std::int32_t b) { return e.bar < b; });
        if (it != higher.strokes.end() && it->bar == point.bar) {
            const BaseRange stroke = strokes[static_cast<std::size_t>(it - higher.strokes.begin())];
            const IndexRange in = within(lowerPoints, stroke);
            for (std::int32_t k = in.first; k < in.first + in.count; ++k) {
                if (lower.points[static_cast<std::size_t>(k)].side == point.side) confirming.push_back(k);
            }
        }
        links.confirmations.push_back(std::move(confirming));
    }
    return links;
}

}  // namespace vlm::levels
