#pragma once
// What the nine functions say about one bar series, as the host would compute
// it (function 2's output feeding 3 to 9), plus the structures behind it.

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "bar_file.h"
#include "functions/series_functions.h"
#include "pivot/pivot_list.h"
#include "points/trading_points.h"

namespace vlmstruct {

// A stroke or segment end: the bar that carries it, 1 top / -1 bottom, and
// the high (top) or low (bottom) there.
struct Mark {
    int bar;
    int direction;
    float price;

    friend bool operator==(const Mark&, const Mark&) = default;
};

struct Analysis {
    std::array<std::vector<float>, vlm::kSeriesFunctions.size()> outputs;  // function n at n - 1
    std::vector<Mark> strokes;   // from function 2; the last one can still move
    std::vector<Mark> segments;  // from function 3
    vlm::ZhongShuList pivots;    // closed, as functions 5 to 9 publish them
    std::vector<float> runCounts;
    std::optional<vlm::Pivot> openPivot;  // the pivot under way at the last bar
    std::vector<vlm::TradingPoint> points;  // in bar order, from the closes or the mid-price
};

Analysis analyse(const BarSeries& bars, const vlm::TradingPointOptions& pointOptions = {});
// The same from the series themselves; `close` may be empty (the mid-price).
Analysis analyse(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                 const vlm::TradingPointOptions& pointOptions = {});

// The latest of each structure, all a one-line summary of a series reads:
// what `latestOf(analyse(...))` gives, computed without the nine output
// series and the lists before the last of each.
struct Latest {
    std::optional<Mark> stroke;   // the last stroke end
    std::optional<Mark> segment;  // the last segment end
    std::optional<vlm::Pivot> pivot;  // the last closed pivot
    float pivotRunCount = 0.0f;       // its run count (function 9)
    std::optional<vlm::TradingPoint> point;  // the last trading point

    friend bool operator==(const Latest&, const Latest&) = default;
};
Latest latestOf(const Analysis& a);
Latest analyseLatest(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                     const vlm::TradingPointOptions& pointOptions = {});

std::vector<Mark> marksOf(std::span<const float> signal, std::span<const float> high, std::span<const float> low);

}  // namespace vlmstruct
