#include "analysis/chunked_series.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "functions/series_functions.h"
#include "kline/bar_count.h"
#include "kline/kxian_chuli.h"
#include "kline/kxian_signal.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "stroke/bi_chuli.h"
#include "stroke/bi_signal.h"

namespace vlm {

namespace {

// Function 1 over a zeroed `turns`, and the strokes, from one merging that
// goes a piece of bars at a time. A merged record is final once the next one
// opens, and is then marked and pushed to the strokes; the strokes keep
// their end bars only, so they read the record pushed alone and the records
// before the last are dropped. So the whole merged list is never held at once.
void mergeIntoStrokes(std::span<const float> high, std::span<const float> low, std::span<float> turns,
                      BiChuLi& strokes) {
    constexpr std::size_t kPieceBars = std::size_t{1} << 12;
    KxianChuLi merged;
    std::vector<Kxian>& window = merged.kxianList;
    for (std::size_t from = 0; from < high.size(); from += kPieceBars) {
        const std::size_t count = std::min(kPieceBars, high.size() - from);
        merged.AddKxians(high.subspan(from, count), low.subspan(from, count));
        // All but the last record are final; the window holds none handed on.
        const std::size_t closed = window.size() - 1;
        MarkKxianTurns(window, 0, closed, turns);
        for (std::size_t k = 0; k < closed; ++k) strokes.push(window, k);
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(closed));
    }
    MarkLastKxian(window, turns);
    if (!window.empty()) strokes.push(window, window.size() - 1);
}

}  // namespace

void RunAllSeriesFunctions(std::span<const float> high, std::span<const float> low,
                           const std::function<std::span<float>(std::size_t)>& output) {
    const auto take = [&](std::size_t k) {
        const std::span<float> out = output(k);
        if (out.size() != high.size()) throw std::invalid_argument("one output value per bar");
        return out;
    };
    // Refused before any output is asked for, as a single merging would.
    RequireBars(high.size(), high.size(), low.size());
    std::span<float> signal;
    {
        const std::span<float> turns = take(0);
        std::fill(turns.begin(), turns.end(), 0.0f);
        BiChuLi strokes(BiChuLi::Bars::EndOnly);  // the signal marks their ends alone
        mergeIntoStrokes(high, low, turns, strokes);
        signal = take(1);
        WriteBiSignal(strokes.biList, signal);
    }
    const SeriesInputs in{signal, high, low};
    RunSegments(in, take(2));
    RunSegmentsNoPullback(in, take(3));
    const ZhongShuList list = CalcPivotList(in.signal, in.high, in.low);
    for (const PivotOutput what : {PivotOutput::Upper, PivotOutput::Lower, PivotOutput::EndMarks,
                                   PivotOutput::Trend, PivotOutput::RunCount}) {
        WritePivotOutput(list, what, take(4 + static_cast<std::size_t>(what)));
    }
}

}  // namespace vlm
