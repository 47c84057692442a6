// Cost per bar of every numbered function, of a whole chart refresh, and of
// a plain copy of the same bytes as the floor. bench/ns_per_bar.py prints
// the table in ns per bar.
#include <array>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/chunked_series.h"
#include "functions/series_functions.h"
#include "stream/replay.h"
#include "stream/streaming_engine.h"

namespace {

enum Pattern { kRandomWalk, kPendingGrowing, kFallingRuns };

struct Series {
    std::vector<float> high, low, signal;
};

Series makeSeries(Pattern pattern, std::size_t n) {
    Series s{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> step(-1.0, 1.0), range(0.0, 0.6);
    double mid = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        switch (pattern) {
            case kRandomWalk:
                mid += step(rng);
                s.high[i] = static_cast<float>(std::round((mid + range(rng)) * 100) / 100);
                s.low[i] = static_cast<float>(std::round((mid - range(rng)) * 100) / 100);
                break;
            case kPendingGrowing:  // up and down in turn, never three falling lows
                s.high[i] = i == 0 ? 100.0f : (i % 2 ? 20.0f : 21.0f);
                s.low[i] = i == 0 ? 50.0f : (i % 2 ? 10.0f : 11.0f);
                break;
            case kFallingRuns: {  // runs of three falling lows that nothing undercuts
                const float k = static_cast<float>((i - 1) % 3);
                s.high[i] = i == 0 ? 100.0f : 20.0f - k;
                s.low[i] = i == 0 ? 50.0f : 10.0f - k;
                break;
            }
        }
    }
    vlm::RunStrokes({{}, s.high, s.low}, s.signal);
    return s;
}

const char* patternName(Pattern p) {
    return p == kRandomWalk ? "walk" : p == kPendingGrowing ? "pending" : "fallingruns";
}

void setPerBar(benchmark::State& state, std::size_t n) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["bars"] = static_cast<double>(n);
}

void BM_Function(benchmark::State& state, int number, Pattern pattern) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(pattern, n);
    const vlm::SeriesFunction& f = vlm::kSeriesFunctions[static_cast<std::size_t>(number - 1)];
    std::vector<float> out(n);
    for (auto _ : state) {
        f.run({s.signal, s.high, s.low}, out);
        benchmark::DoNotOptimize(out.data());
    }
    setPerBar(state, n);
}

// Functions 1 to 9 in the host's order, function 2's output feeding 3 to 9.
void BM_Refresh(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(kRandomWalk, n);
    std::vector<float> signal(n), out(n);
    for (auto _ : state) {
        vlm::RunTurningPoints({{}, s.high, s.low}, out);
        vlm::RunStrokes({{}, s.high, s.low}, signal);
        for (std::size_t f = 2; f < vlm::kSeriesFunctions.size(); ++f) {
            vlm::kSeriesFunctions[f].run({signal, s.high, s.low}, out);
        }
        benchmark::DoNotOptimize(out.data());
    }
    setPerBar(state, n);
}

// The nine at once, as the tools compute them: one merging for 1 and 2, one
// pivot list for 5 to 9. Compare with refresh/walk.
void BM_AllAtOnce(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(kRandomWalk, n);
    std::array<std::vector<float>, 9> outs;
    for (auto& out : outs) out.resize(n);
    for (auto _ : state) {
        vlm::RunAllSeriesFunctions(s.high, s.low, [&](std::size_t f) { return std::span<float>(outs[f]); });
        benchmark::DoNotOptimize(outs[8].data());
    }
    setPerBar(state, n);
}

// Every bar pushed one at a time: after each push the engine holds what the
// nine functions return on the bars so far. Compare with refresh/walk, one
// computation of the nine functions on all the bars.
void BM_Streaming(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(kRandomWalk, n);
    for (auto _ : state) {
        vlm::StreamingEngine engine;
        for (std::size_t i = 0; i < n; ++i) engine.push(s.high[i], s.low[i]);
        benchmark::DoNotOptimize(engine.pivots().data());
    }
    setPerBar(state, n);
}

// The same with the events and as-of row of every bar.
void BM_Replay(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(kRandomWalk, n);
    for (auto _ : state) {
        const vlm::ReplayLog log = vlm::ReplaySeries(s.high, s.low, s.low);
        benchmark::DoNotOptimize(log.rows.data());
    }
    setPerBar(state, n);
}

// The floor: read the inputs of a call of functions 3 to 9, write its output.
void BM_CopyFloor(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeSeries(kRandomWalk, n);
    std::vector<float> out(n);
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) out[i] = s.signal[i] + s.high[i] + s.low[i];
        benchmark::DoNotOptimize(out.data());
    }
    setPerBar(state, n);
}

void registerAll() {
    for (int number = 1; number <= 9; ++number) {
        for (Pattern p : {kRandomWalk, kPendingGrowing, kFallingRuns}) {
            if (p != kRandomWalk && number > 2) continue;  // the patterns target strokes
            const std::string name = "f" + std::to_string(number) + "/" + patternName(p);
            auto* b = benchmark::RegisterBenchmark(name.c_str(), BM_Function, number, p);
            b->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RegisterBenchmark("refresh/walk", BM_Refresh)
        ->Arg(10000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("all_at_once/walk", BM_AllAtOnce)
        ->Arg(10000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("streaming/walk", BM_Streaming)
        ->Arg(10000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("replay/walk", BM_Replay)
        ->Arg(10000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("copy_floor", BM_CopyFloor)
        ->Arg(1000)
        ->Arg(100000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
