// The time of every single push of the streaming engine over a quantised
// random walk: total, mean and the slowest pushes, against one computation of
// the nine functions on all the bars. Usage: stream_latency [BARS [SEED]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "functions/series_functions.h"
#include "stream/streaming_engine.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 42;
    std::vector<float> high(n), low(n), signal(n), out(n);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(-1.0, 1.0), range(0.0, 0.6);
    double mid = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        mid += step(rng);
        high[i] = static_cast<float>(std::round((mid + range(rng)) * 100) / 100);
        low[i] = static_cast<float>(std::round((mid - range(rng)) * 100) / 100);
    }

    const auto fullStart = Clock::now();
    vlm::RunStrokes({{}, high, low}, signal);
    for (const vlm::SeriesFunction& f : vlm::kSeriesFunctions) f.run({signal, high, low}, out);
    const double fullNs = std::chrono::duration<double, std::nano>(Clock::now() - fullStart).count();

    std::vector<double> pushNs(n);
    vlm::StreamingEngine engine;
    engine.reserve(n);
    const auto streamStart = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        engine.push(high[i], low[i]);
        pushNs[i] = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
    }
    const double streamNs = std::chrono::duration<double, std::nano>(Clock::now() - streamStart).count();

    const auto worst = std::max_element(pushNs.begin(), pushNs.end());
    std::vector<double> sorted = pushNs;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) { return sorted[static_cast<std::size_t>(q * static_cast<double>(n - 1))]; };
    std::printf("bars %zu, seed %u\n", n, seed);
    std::printf("one computation of the nine functions: %.1f ms (%.2f ns per bar)\n", fullNs / 1e6,
                fullNs / static_cast<double>(n));
    std::printf("streaming, every bar pushed (timed one by one): %.1f ms (%.2f ns per push)\n",
                streamNs / 1e6, streamNs / static_cast<double>(n));
    std::printf("per push: median %.0f ns, 99.9%% %.0f ns, 99.99%% %.0f ns, worst %.0f ns (bar %zu)\n",
                at(0.5), at(0.999), at(0.9999), *worst, static_cast<std::size_t>(worst - pushNs.begin()));
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::partial_sort(order.begin(), order.begin() + 5, order.end(),
                      [&](std::size_t a, std::size_t b) { return pushNs[a] > pushNs[b]; });
    std::printf("slowest pushes:");
    for (std::size_t k = 0; k < 5; ++k) std::printf(" bar %zu %.0f ns;", order[k], pushNs[order[k]]);
    std::printf("\n");
    std::printf("pivots %zu, stroke marks %zu\n", engine.pivots().size(),
                engine.marks(vlm::MarkSeries::Strokes).size());
    return 0;
}
