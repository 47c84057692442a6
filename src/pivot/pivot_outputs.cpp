#include "pivot/pivot_outputs.h"

#include <algorithm>
#include <cstdint>

namespace vlm {

namespace {

void setBar(std::span<float> out, std::int64_t bar, float value) {
    if (bar >= 0 && bar < static_cast<std::int64_t>(out.size())) {
        out[static_cast<std::size_t>(bar)] = value;
    }
}

void fillInside(std::span<float> out, const Pivot& pivot, float value) {
    const std::int64_t first = std::max<std::int64_t>(std::int64_t{pivot.start} + 1, 0);
    const std::int64_t last =
        std::min<std::int64_t>(std::int64_t{pivot.end} - 1, static_cast<std::int64_t>(out.size()) - 1);
    for (std::int64_t j = first; j <= last; ++j) {
        out[static_cast<std::size_t>(j)] = value;
    }
}

float nextRunCount(const ZhongShuList& list, std::size_t p, float previous) {
    return ContinueRunCount(p > 0 ? &list[p - 1] : nullptr, previous, list[p]);
}

}  // namespace

std::vector<float> PivotRunCounts(const ZhongShuList& list) {
    std::vector<float> counts(list.size());
    float runCount = 0.0f;
    for (std::size_t p = 0; p < list.size(); ++p) {
        runCount = nextRunCount(list, p, runCount);
        counts[p] = runCount;
    }
    return counts;
}

void WritePivotOutput(const ZhongShuList& list, PivotOutput what, std::span<float> out) noexcept {
    std::fill(out.begin(), out.end(), 0.0f);
    float runCount = 0.0f;
    for (std::size_t p = 0; p < list.size(); ++p) {
        const Pivot& ZhongShuOne = list[p];
        // The run grows while trends repeat; counted once per pivot, not rescanned.
        runCount = nextRunCount(list, p, runCount);
        switch (what) {
            case PivotOutput::Upper:
                fillInside(out, ZhongShuOne, ZhongShuOne.upper);
                break;
            case PivotOutput::Lower:
                fillInside(out, ZhongShuOne, ZhongShuOne.lower);
                break;
            case PivotOutput::EndMarks:
                // Where the two bars coincide the 2.0 written second stands.
                setBar(out, std::int64_t{ZhongShuOne.start} + 1, 1.0f);
                setBar(out, std::int64_t{ZhongShuOne.end} - 1, 2.0f);
                break;
            case PivotOutput::Trend:
                fillInside(out, ZhongShuOne, ZhongShuOne.trend);
                break;
            case PivotOutput::RunCount:
                fillInside(out, ZhongShuOne, runCount);
                break;
        }
    }
}

}  // namespace vlm
