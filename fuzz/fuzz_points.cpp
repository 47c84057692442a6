// Arbitrary bytes become a bar series (read as the streaming harness reads
// them) and options; the trading points bar by bar must equal the batch
// routine on the structures of the bars so far after every push, and keep
// every point they called final.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "points/point_stream.h"
#include "points/trading_points.h"
#include "stream/streaming_engine.h"

#include "fuzz_prices.h"

namespace {

using vlm::fuzzing::priceFrom;

void fail(const char* what, std::size_t bar) {
    std::fprintf(stderr, "trading points differ: %s after bar %zu\n", what, bar);
    std::abort();
}

template <typename T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool samePivot(const vlm::PointPivot& x, const vlm::PointPivot& y) {
    return x.pivot.start == y.pivot.start && x.pivot.end == y.pivot.end &&
           sameBits(x.pivot.upper, y.pivot.upper) && sameBits(x.pivot.lower, y.pivot.lower) &&
           sameBits(x.pivot.trend, y.pivot.trend) && sameBits(x.runCount, y.runCount);
}

bool samePoint(const vlm::TradingPoint& a, const vlm::TradingPoint& b) {
    return a.side == b.side && a.bar == b.bar && sameBits(a.price, b.price) && a.classes == b.classes &&
           sameBits(a.leavingForce, b.leavingForce) && sameBits(a.enteringForce, b.enteringForce) &&
           sameBits(a.forceRatio, b.forceRatio) && a.follows == b.follows &&
           samePivot(a.pivots[0], b.pivots[0]) && samePivot(a.pivots[1], b.pivots[1]) &&
           samePivot(a.pivots[2], b.pivots[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t style = data[0];
    // The options come from the same byte: a measure, the run, the ratio.
    vlm::TradingPointOptions options;
    options.force = static_cast<vlm::ForceMeasure>((style >> 2) % 4);
    options.class1MinRun = (style & 0x20) ? 1 : 2;
    options.divergenceRatio = (style & 0x40) ? 1.5 : 1.0;
    options.macd = (style & 0x80) ? vlm::MacdParams{2, 5, 3} : vlm::MacdParams{};
    const std::uint8_t* p = data + 1;
    const std::uint8_t* end = data + size;
    std::vector<float> high, low, close;
    while (p < end && high.size() < 300) {
        const float h = priceFrom(p, end, style);
        high.push_back(h);
        low.push_back((style & 0x10) ? priceFrom(p, end, style)
                                     : h - static_cast<float>(p < end ? *p++ % 4 : 1));
        close.push_back(vlm::MidPrice(high.back(), low.back()));
    }
    vlm::StreamingEngine engine;
    vlm::TradingPointStream stream(options);
    std::vector<vlm::ShownPoint> finals;
    for (std::size_t t = 0; t < high.size(); ++t) {
        engine.push(high[t], low[t]);
        stream.push(engine, close[t]);
        const vlm::BarStructures s = vlm::StructuresOfBars({high.data(), t + 1}, {low.data(), t + 1},
                                                           {close.data(), t + 1}, options.macd);
        const std::vector<vlm::TradingPoint> expected = vlm::CalcTradingPoints(s.view(), options);
        const std::vector<vlm::TradingPoint> got = stream.points();
        if (got.size() != expected.size()) fail("count", t);
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (!samePoint(got[i], expected[i])) fail("a point", t);
        }
        const auto now = stream.finalPoints();
        if (now.size() < finals.size() || !std::equal(finals.begin(), finals.end(), now.begin())) {
            fail("a final point", t);
        }
        finals.assign(now.begin(), now.end());
    }
    return 0;
}
