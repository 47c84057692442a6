#include "analysis.h"

#include "pivot/pivot_outputs.h"

namespace vlmstruct {

std::vector<Mark> marksOf(std::span<const float> signal, std::span<const float> high, std::span<const float> low) {
    std::vector<Mark> marks;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (signal[i] == 1.0f) marks.push_back({static_cast<int>(i), 1, high[i]});
        if (signal[i] == -1.0f) marks.push_back({static_cast<int>(i), -1, low[i]});
    }
    return marks;
}

Analysis analyse(const BarSeries& bars, const vlm::TradingPointOptions& pointOptions) {
    return analyse(bars.high, bars.low, bars.close, pointOptions);
}

Analysis analyse(std::span<const float> high, std::span<const float> low, std::span<const float> close,
                 const vlm::TradingPointOptions& pointOptions) {
    Analysis a;
    const std::size_t n = high.size();
    for (auto& out : a.outputs) out.assign(n, 0.0f);
    // Functions 1 and 2 first: the stroke signal feeds every later function.
    for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
        const vlm::SeriesFunction& function = vlm::kSeriesFunctions[f];
        const vlm::SeriesInputs in{function.inputs == vlm::InputLayout::SignalHighLow
                                       ? std::span<const float>(a.outputs[1])
                                       : std::span<const float>{},
                                   high, low};
        function.run(in, a.outputs[f]);
    }
    const std::vector<float>& signal = a.outputs[1];
    a.strokes = marksOf(signal, high, low);
    a.segments = marksOf(a.outputs[2], high, low);
    a.pivots = vlm::CalcPivotList(signal, high, low);
    a.runCounts = vlm::PivotRunCounts(a.pivots);
    const vlm::ZhongShuList withOpen =
        vlm::CalcPivotList(signal, high, low, {.includeOpenPivot = true});
    if (withOpen.size() > a.pivots.size()) a.openPivot = withOpen.back();
    // An empty close column means the mid-price, as the rules have it.
    a.points = vlm::CalcTradingPoints(high, low, close, pointOptions);
    return a;
}

}  // namespace vlmstruct
