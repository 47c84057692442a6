// The cost of one bar on a live stream with trading points and events: a
// history loaded bar by bar (against the whole-file replay of the same
// bars, in the same run), then every further push timed on its own, after
// a long history and after a short one, so that a cost growing with the
// history shows. Usage: live_push [HISTORY [TIMED [SEED]]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "live/live_stream.h"
#include "points/point_replay.h"

namespace {

using Clock = std::chrono::steady_clock;

double nsSince(Clock::time_point t0) { return std::chrono::duration<double, std::nano>(Clock::now() - t0).count(); }

struct Percentiles {
    double median, p99, p999, worst;
};

Percentiles percentiles(std::vector<double> ns) {
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double q) { return ns[static_cast<std::size_t>(q * static_cast<double>(ns.size() - 1))]; };
    return {at(0.5), at(0.99), at(0.999), ns.back()};
}

// Pushes bars [from, to) one at a time, timing each; returns the events.
std::size_t timedPushes(vlm::live::Stream& stream, const std::vector<vlm::live::LiveBar>& bars, std::size_t from,
                        std::size_t to, std::vector<double>& ns) {
    std::size_t events = 0;
    ns.clear();
    ns.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
        const auto t0 = Clock::now();
        events += stream.push(bars[i]).size();
        ns.push_back(nsSince(t0));
    }
    return events;
}

void print(const char* what, const Percentiles& p) {
    std::printf("%-44s median %6.0f ns  p99 %6.0f ns  p99.9 %7.0f ns  worst %8.0f ns\n", what, p.median, p.p99,
                p.p999, p.worst);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t history = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::size_t timed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 200000;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 42;
    const std::size_t shortHistory = std::min<std::size_t>(10000, history);

    // A quantised walk of minute bars with closes.
    const std::size_t n = history + timed;
    std::vector<vlm::live::LiveBar> bars(n);
    std::vector<float> high(n), low(n), close(n);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(-1.0, 1.0), range(0.0, 0.6);
    double mid = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double open = mid;
        mid += step(rng);
        vlm::live::LiveBar& b = bars[i];
        b.time = 1700000000 + static_cast<vlm::levels::Seconds>(i) * 60;
        b.open = static_cast<float>(std::round(open * 100) / 100);
        b.close = static_cast<float>(std::round(mid * 100) / 100);
        b.high = static_cast<float>(std::round((std::max(open, mid) + range(rng)) * 100) / 100);
        b.low = static_cast<float>(std::round((std::min(open, mid) - range(rng)) * 100) / 100);
        b.volume = 1000;
        high[i] = b.high;
        low[i] = b.low;
        close[i] = b.close;
    }
    std::printf("bars: %zu of history, %zu pushes timed one by one, seed %u\n", history, timed, seed);

    // Load against replay, each twice in turn; the faster run of each counts.
    double replayNs = 1e300, loadNs = 1e300;
    std::size_t replayEvents = 0, loadEvents = 0;
    for (int round = 0; round < 2; ++round) {
        auto t0 = Clock::now();
        replayEvents = 0;
        vlm::ReplayWithPoints(std::span(high).first(history), std::span(low).first(history),
                              std::span(close).first(history), {},
                              [&](const vlm::ReplayedBar& bar) { replayEvents += bar.events.size() + bar.pointEvents.size(); });
        replayNs = std::min(replayNs, nsSince(t0));
        vlm::live::Stream stream;
        t0 = Clock::now();
        loadEvents = 0;
        for (std::size_t i = 0; i < history; ++i) loadEvents += stream.push(bars[i]).size();
        loadNs = std::min(loadNs, nsSince(t0));
    }
    std::printf("replay (ReplayWithPoints) of the history: %8.1f ms, %zu events\n", replayNs / 1e6, replayEvents);
    std::printf("load (Stream::push bar by bar):           %8.1f ms, %zu events, %.2f x replay\n", loadNs / 1e6,
                loadEvents, loadNs / replayNs);
    if (loadEvents != replayEvents) {
        std::printf("the stream's events differ from the replay's\n");
        return 1;
    }

    std::vector<double> ns;
    vlm::live::Stream longStream;
    for (std::size_t i = 0; i < history; ++i) longStream.push(bars[i]);
    const std::size_t longEvents = timedPushes(longStream, bars, history, n, ns);
    char what[96];
    std::snprintf(what, sizeof what, "push after %zu bars (%zu events):", history, longEvents);
    const Percentiles afterLong = percentiles(ns);
    print(what, afterLong);

    vlm::live::Stream shortStream;
    for (std::size_t i = 0; i < shortHistory; ++i) shortStream.push(bars[i]);
    const std::size_t shortEvents = timedPushes(shortStream, bars, shortHistory, shortHistory + timed, ns);
    std::snprintf(what, sizeof what, "push after %zu bars (%zu events):", shortHistory, shortEvents);
    const Percentiles afterShort = percentiles(ns);
    print(what, afterShort);
    std::printf("median after %zu bars / after %zu bars: %.2f\n", history, shortHistory,
                afterLong.median / afterShort.median);

    // A forming bar shown once, then the finished bar: what a feed that
    // sends the bar in progress costs per bar.
    vlm::live::Stream formingStream;
    for (std::size_t i = 0; i < shortHistory; ++i) formingStream.push(bars[i]);
    ns.clear();
    for (std::size_t i = shortHistory; i < shortHistory + std::min<std::size_t>(timed, 50000); ++i) {
        vlm::live::LiveBar partial = bars[i];
        partial.low = std::min(partial.high, partial.low + 0.1f);
        const auto t0 = Clock::now();
        formingStream.pushForming(partial);
        formingStream.push(bars[i]);
        ns.push_back(nsSince(t0));
    }
    print("a forming bar, then the bar finished:", percentiles(ns));
    return 0;
}
