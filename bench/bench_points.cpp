// What the trading points cost on top of the nine functions, computed once
// over a series and bar by bar, on a quantised random walk; and how many
// points of each class the walk gives, and how many shown points were
// withdrawn later (benchmark counters).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "functions/series_functions.h"
#include "plugin/vlm_plugin.h"
#include "pivot/pivot_outputs.h"
#include "points/point_stream.h"
#include "points/trading_points.h"
#include "stream/streaming_engine.h"

namespace {

struct Series {
    std::vector<float> high, low, close;
};

// The walk of bench_functions: steps in [-1, 1], prices rounded to 0.01.
Series makeWalk(std::size_t n) {
    Series s{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> step(-1.0, 1.0), range(0.0, 0.6);
    double mid = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        mid += step(rng);
        s.high[i] = static_cast<float>(std::round((mid + range(rng)) * 100) / 100);
        s.low[i] = static_cast<float>(std::round((mid - range(rng)) * 100) / 100);
        s.close[i] = vlm::MidPrice(s.high[i], s.low[i]);
    }
    return s;
}

void setPerBar(benchmark::State& state, std::size_t n) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["bars"] = static_cast<double>(n);
}

void runNine(const Series& s, std::vector<float>& signal, std::vector<float>& out) {
    vlm::RunTurningPoints({{}, s.high, s.low}, out);
    vlm::RunStrokes({{}, s.high, s.low}, signal);
    for (std::size_t f = 2; f < vlm::kSeriesFunctions.size(); ++f) {
        vlm::kSeriesFunctions[f].run({signal, s.high, s.low}, out);
    }
}

// The structures from function 2's signal, as a face that has just run the
// nine functions would build them.
vlm::BarStructures structuresFromSignal(const Series& s, const std::vector<float>& signal) {
    vlm::BarStructures b;
    b.strokeEnds = vlm::turningPoints(signal, s.high, s.low);
    vlm::ZhongShuList listed;
    vlm::PivotWalk walk;
    walk.advance(b.strokeEnds, listed);
    b.pivots = vlm::PointPivots(listed, vlm::PivotRunCounts(listed), walk.openPivot());
    b.histogram = vlm::MacdHistogram(s.close);
    return b;
}

void countClasses(benchmark::State& state, const std::vector<vlm::TradingPoint>& points,
                  const std::string& prefix) {
    const char* names[2][3] = {{"S1", "S2", "S3"}, {"B1", "B2", "B3"}};
    for (int side = 0; side < 2; ++side) {
        for (int c = 1; c <= 3; ++c) {
            double n = 0;
            for (const vlm::TradingPoint& p : points) {
                n += (p.side == vlm::PointSide::Buy) == (side == 1) && p.has(c);
            }
            state.counters[prefix + names[side][c - 1]] = n;
        }
    }
}

// The nine functions, the floor the points add to.
void BM_Nine(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    std::vector<float> signal(n), out(n);
    for (auto _ : state) {
        runNine(s, signal, out);
        benchmark::DoNotOptimize(out.data());
    }
    setPerBar(state, n);
}

// The nine functions, then the points from function 2's signal.
void BM_NinePlusPoints(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    std::vector<float> signal(n), out(n);
    std::vector<vlm::TradingPoint> points;
    for (auto _ : state) {
        runNine(s, signal, out);
        const vlm::BarStructures b = structuresFromSignal(s, signal);
        points = vlm::CalcTradingPoints(b.view());
        benchmark::DoNotOptimize(points.data());
    }
    setPerBar(state, n);
    countClasses(state, points, "");
}

// The points alone, from structures already built.
void BM_PointsOnStructures(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    std::vector<float> signal(n);
    vlm::RunStrokes({{}, s.high, s.low}, signal);
    const vlm::BarStructures b = structuresFromSignal(s, signal);
    for (auto _ : state) {
        const std::vector<vlm::TradingPoint> points = vlm::CalcTradingPoints(b.view());
        benchmark::DoNotOptimize(points.data());
    }
    setPerBar(state, n);
    state.counters["strokes"] = static_cast<double>(b.strokeEnds.size());
    state.counters["pivots"] = static_cast<double>(b.pivots.size());
}

// Every bar pushed: the engine alone, then with the points.
void BM_Streaming(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    for (auto _ : state) {
        vlm::StreamingEngine engine;
        for (std::size_t i = 0; i < n; ++i) engine.push(s.high[i], s.low[i]);
        benchmark::DoNotOptimize(engine.pivots().data());
    }
    setPerBar(state, n);
}

void BM_StreamingPlusPoints(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    std::vector<vlm::TradingPoint> last;
    std::vector<vlm::TradingPoint> withdrawn;
    double shown = 0;
    for (auto _ : state) {
        vlm::StreamingEngine engine;
        vlm::TradingPointStream stream;
        for (std::size_t i = 0; i < n; ++i) {
            engine.push(s.high[i], s.low[i]);
            stream.push(engine, s.close[i]);
        }
        last = stream.points();
        withdrawn.clear();
        for (const vlm::ShownPoint& p : stream.withdrawn()) withdrawn.push_back(p.point);
        shown = static_cast<double>(stream.finalPoints().size() + stream.pendingPoints().size() +
                                    stream.withdrawn().size());
        benchmark::DoNotOptimize(last.data());
    }
    setPerBar(state, n);
    countClasses(state, last, "");
    countClasses(state, withdrawn, "withdrawn_");
    state.counters["shown"] = shown;
}

// The streaming engine alone, with room for every bar from the start, as the
// companion's functions run it.
void BM_EngineReserved(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    for (auto _ : state) {
        vlm::StreamingEngine engine;
        engine.reserve(n);
        for (std::size_t i = 0; i < n; ++i) engine.push(s.high[i], s.low[i]);
        benchmark::DoNotOptimize(engine.pivots().data());
    }
    setPerBar(state, n);
}

// analyze's trading points: the structures of the bars, then the points.
void BM_AnalyzePoints(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    for (auto _ : state) {
        const std::vector<vlm::TradingPoint> points = vlm::CalcTradingPoints(s.high, s.low, s.close);
        benchmark::DoNotOptimize(points.data());
    }
    setPerBar(state, n);
}

// A function of the companion plug-in, called through its table as the host
// calls it (the highs, the lows and the closes).
void BM_Companion(benchmark::State& state, int number) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Series s = makeWalk(n);
    const FuncTableEntry* table = nullptr;
    if (RegisterVlmFunc(&table) != 1) {
        state.SkipWithError("no table");
        return;
    }
    std::vector<float> out(n);
    for (auto _ : state) {
        table[number - 1].funcPtr(static_cast<std::int32_t>(n), out.data(), s.high.data(), s.low.data(),
                                  s.close.data());
        benchmark::DoNotOptimize(out.data());
    }
    setPerBar(state, n);
}

void registerAll() {
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> all[] = {{"points/nine", BM_Nine},
                                              {"points/nine+points", BM_NinePlusPoints},
                                              {"points/on_structures", BM_PointsOnStructures},
                                              {"points/streaming", BM_Streaming},
                                              {"points/streaming+points", BM_StreamingPlusPoints}};
    for (const auto& [name, fn] : all) {
        benchmark::RegisterBenchmark(name, fn)->Arg(1000000)->Unit(benchmark::kMillisecond);
    }
    // The companion, each function against the streaming engine alone or
    // analyze's trading points: bench/companion_ratios.py.
    // Each warmed up first: a cold first run (fresh pages, a busy machine)
    // would otherwise decide how often a baseline is timed.
    const auto companion = [](benchmark::internal::Benchmark* b) {
        b->Arg(1000000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1.0)->MinTime(2.0);
    };
    companion(benchmark::RegisterBenchmark("companion/engine", BM_EngineReserved));
    companion(benchmark::RegisterBenchmark("companion/analyze_points", BM_AnalyzePoints));
    for (int number = 1; number <= 7; ++number) {
        companion(benchmark::RegisterBenchmark(("companion/function" + std::to_string(number)).c_str(), BM_Companion,
                                               number));
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
