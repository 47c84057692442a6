// Arbitrary bytes become a bar series (prices from a small set, near each
// other, or any bit pattern); the streaming engine takes the bars one by one
// and after every push must give, for all nine functions, exactly what the
// routines give on the bars so far, and keep every part it called final.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "functions/series_functions.h"
#include "stream/streaming_engine.h"

#include "fuzz_prices.h"

namespace {

using vlm::fuzzing::priceFrom;

void fail(const char* what, std::size_t bar) {
    std::fprintf(stderr, "streaming differs: %s after bar %zu\n", what, bar);
    std::abort();
}

bool sameBits(std::span<const float> a, std::span<const float> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t style = data[0];
    const std::uint8_t* p = data + 1;
    const std::uint8_t* end = data + size;
    std::vector<float> high, low;
    while (p < end && high.size() < 300) {
        const float h = priceFrom(p, end, style);
        high.push_back(h);
        low.push_back((style & 0x10) ? priceFrom(p, end, style) : h - static_cast<float>(p < end ? *p++ % 4 : 1));
    }
    vlm::StreamingEngine engine;
    std::vector<float> signal, expected, got;
    std::vector<std::vector<vlm::SignalMark>> finals(vlm::kMarkSeriesCount);
    for (std::size_t t = 0; t < high.size(); ++t) {
        engine.push(high[t], low[t]);
        const std::span<const float> h(high.data(), t + 1), l(low.data(), t + 1);
        signal.assign(t + 1, 0.0f);
        vlm::RunStrokes({{}, h, l}, signal);
        for (const vlm::SeriesFunction& f : vlm::kSeriesFunctions) {
            expected.assign(t + 1, 0.0f);
            got.assign(t + 1, 1.0f);
            f.run({signal, h, l}, expected);
            engine.write(f.number, got);
            if (!sameBits(expected, got)) fail(f.name.data(), t);
        }
        for (std::size_t s = 0; s < vlm::kMarkSeriesCount; ++s) {
            const auto marks = engine.marks(static_cast<vlm::MarkSeries>(s));
            if (marks.size() < finals[s].size() ||
                !std::equal(finals[s].begin(), finals[s].end(), marks.begin())) {
                fail("a final mark", t);
            }
            finals[s].assign(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(
                                                               engine.finalMarks(static_cast<vlm::MarkSeries>(s))));
        }
    }
    return 0;
}
