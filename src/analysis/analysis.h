#pragma once
// What the nine functions say about one bar series, as the host would compute
// it (function 2's output feeding 3 to 9), plus the structures behind it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "barfile/bar_file.h"
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

// One function's values, one per bar. Most functions give only small whole
// numbers (marks, trends, counts): such a column of a long series is held a
// byte a bar, and reads back the same floats; any other keeps its floats. A
// short series keeps them too: its bytes do not matter, and the check would
// cost more time than it saves (many short series are analysed one after
// another, as the levels of a file are).
class OutputColumn {
public:
    static constexpr std::size_t kPackedFrom = std::size_t{1} << 16;  // bars

    OutputColumn() = default;
    explicit OutputColumn(std::vector<float> values);

    [[nodiscard]] std::size_t size() const { return bars_; }
    [[nodiscard]] float operator[](std::size_t bar) const {
        return floats_.empty() ? static_cast<float>(small_[bar]) : floats_[bar];
    }
    // The values as floats: the column's own when it keeps them (taken
    // from a column about to go, which is left empty).
    [[nodiscard]] std::vector<float> floats() const&;
    [[nodiscard]] std::vector<float> floats() &&;
    [[nodiscard]] bool packed() const { return floats_.empty() && bars_ > 0; }

private:
    std::size_t bars_ = 0;
    std::vector<float> floats_;
    std::vector<std::int8_t> small_;
};

struct Analysis {
    std::array<OutputColumn, vlm::kSeriesFunctions.size()> outputs;  // function n at n - 1
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
