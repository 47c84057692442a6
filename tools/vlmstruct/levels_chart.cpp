#include "levels_chart.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "barfile/text_sink.h"
#include "chart.h"
#include "chart_columns.h"

namespace vlmstruct {

namespace {

// A higher level's structures placed on the bars of the level below, for
// the chart to overlay there: stroke and segment ends at the lower bar
// holding the base bar where their high or low was made, each stroke's and
// pivot's base bars as the lower bars holding them.
std::string overlayOnLower(const Level& higher, const Level& lower, const vlm::levels::LevelLinks& links,
                           bool withOpenPivot) {
    using chart::integerColumn;
    using chart::numberColumn;
    const auto lowerBar = [&](std::int32_t base) -> std::int64_t {
        return vlm::levels::BarHolding(lower.resampled.firstBase, base);
    };
    const Analysis& a = higher.analysis;
    std::vector<std::int64_t> strokeBar, rangeFirst, rangeLast, segmentBar, pivotFirst, pivotLast, pivotOpen;
    std::vector<float> strokePrice, segmentPrice, pivotUpper, pivotLower, pivotTrend;
    for (std::size_t k = 0; k < a.strokes.size(); ++k) {
        strokeBar.push_back(lowerBar(links.strokeEnds[k].baseBar));
        strokePrice.push_back(a.strokes[k].price);
        rangeFirst.push_back(lowerBar(links.strokes[k].base.first));
        rangeLast.push_back(lowerBar(links.strokes[k].base.last));
    }
    // A segment ends where a stroke ends; where none does, at its bar's first base bar.
    for (const Mark& m : a.segments) {
        const auto it = std::lower_bound(a.strokes.begin(), a.strokes.end(), m.bar,
                                         [](const Mark& s, int bar) { return s.bar < bar; });
        const bool atStroke = it != a.strokes.end() && it->bar == m.bar;
        segmentBar.push_back(lowerBar(atStroke ? links.strokeEnds[static_cast<std::size_t>(it - a.strokes.begin())].baseBar
                                               : higher.resampled.firstBase[static_cast<std::size_t>(m.bar)]));
        segmentPrice.push_back(m.price);
    }
    std::vector<const vlm::Pivot*> pivots;
    for (const vlm::Pivot& p : a.pivots) pivots.push_back(&p);
    if (withOpenPivot && a.openPivot) pivots.push_back(&*a.openPivot);
    for (std::size_t k = 0; k < pivots.size(); ++k) {
        pivotFirst.push_back(lowerBar(links.pivots[k].base.first));
        pivotLast.push_back(lowerBar(links.pivots[k].base.last));
        pivotUpper.push_back(pivots[k]->upper);
        pivotLower.push_back(pivots[k]->lower);
        pivotTrend.push_back(pivots[k]->trend);
        pivotOpen.push_back(k + 1 == pivots.size() && withOpenPivot && a.openPivot ? 1 : 0);
    }
    // The first stroke starts at the first bar, from its low when it rises.
    const float startPrice = a.strokes.empty() ? 0.0f
                             : a.strokes.front().direction > 0 ? higher.bars.low.front() : higher.bars.high.front();
    const auto plain = chart::Coding::Plain;
    return "{\"strokes\":{\"bar\":" + integerColumn(strokeBar) + ",\"price\":" + numberColumn(strokePrice) +
           "},\"startPrice\":" + jsonNumber(startPrice) +
           ",\"ranges\":{\"first\":" + integerColumn(rangeFirst) + ",\"last\":" + integerColumn(rangeLast) +
           "},\"segments\":{\"bar\":" + integerColumn(segmentBar) + ",\"price\":" + numberColumn(segmentPrice) +
           "},\"pivots\":{\"first\":" + integerColumn(pivotFirst) + ",\"last\":" + integerColumn(pivotLast) +
           ",\"upper\":" + numberColumn(pivotUpper) + ",\"lower\":" + numberColumn(pivotLower) +
           ",\"trend\":" + numberColumn(pivotTrend, plain) + ",\"open\":" + integerColumn(pivotOpen, plain) + "}}";
}

}  // namespace

std::string levelsChartHtml(const std::string& title, const Levels& all, bool withOpenPivot,
                            const vlm::TradingPointOptions& points) {
    std::vector<std::string> levels;
    for (std::size_t k = 0; k < all.levels.size(); ++k) {
        const Level& level = all.levels[k];
        std::string extra;
        if (k > 0) {
            const std::vector<std::int32_t>& first = level.resampled.firstBase;
            extra = ",\"firstBase\":" + chart::integerColumn(std::vector<std::int64_t>(first.begin(), first.end())) +
                    ",\"over\":" + overlayOnLower(level, all.levels[k - 1], all.links[k - 1], withOpenPivot);
        }
        levels.push_back(chartLevel(levelName(all, k), level.bars, level.analysis, withOpenPivot, points, extra));
    }
    return chartPage(title, levels);
}

}  // namespace vlmstruct
