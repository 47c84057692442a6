// The stages of the vlmstruct commands on one bar file, each timed alone (the
// best of REPEATS runs): reading it, the nine functions, everything analyze
// computes, the streaming engine, the replay with points, and the writers
// (into /dev/null), in processor seconds. One JSON object per line for bench/tools_scale.py.
// Usage: tool_stages BARS.csv [REPEATS [STAGE]]
// With STAGE (e.g. "replay with points") only that stage runs after the read,
// so that a profiler sees it alone.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "functions/series_functions.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "points/point_replay.h"
#include "analysis/replay_files.h"
#include "stream/streaming_engine.h"

namespace {

// Processor time, which other work on a shared machine disturbs less than
// the clock on the wall.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double best(int repeats, const std::function<void()>& run) {
    double seconds = std::numeric_limits<double>::infinity();
    for (int k = 0; k < repeats; ++k) {
        const double start = cpuSeconds();
        run();
        seconds = std::min(seconds, cpuSeconds() - start);
    }
    return seconds;
}

void report(const char* stage, double seconds, std::size_t bars) {
    std::printf("{\"stage\": \"%s\", \"seconds\": %.6f, \"bars\": %zu}\n", stage, seconds, bars);
}

// Times and reports `stage` unless another one was asked for.
struct Stages {
    int repeats;
    const char* only;
    std::size_t bars;

    void operator()(const char* stage, const std::function<void()>& run) const {
        if (only != nullptr && std::string(only) != stage) return;
        report(stage, best(repeats, run), bars);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tool_stages BARS.csv [REPEATS [STAGE]]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const vlmstruct::ReadOptions packed{.packedDates = true};
    vlmstruct::BarSeries bars;
    const double read = best(repeats, [&] { bars = vlmstruct::readBarFile(argv[1], nullptr, packed); });
    report("read", read, bars.size());
    const std::size_t n = bars.size();
    const Stages stage{repeats, argc > 3 ? argv[3] : nullptr, n};

    std::vector<float> signal(n), out(n);
    stage("nine functions", [&] {
               // As a host calls them: function 2's stroke signal feeds 3 to 9.
               for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
                   vlm::kSeriesFunctions[f].run({signal, bars.high, bars.low}, f == 1 ? signal : out);
               }
           });

    vlmstruct::Analysis a;
    // The writers format this analysis, whichever stage was asked for.
    a = vlmstruct::analyse(bars);
    stage("analyse", [&] { a = vlmstruct::analyse(bars); });

    // Formatting alone: the text goes to /dev/null.
    std::FILE* nowhere = std::fopen("/dev/null", "wb");
    if (nowhere == nullptr) return 1;
    stage("write csv and json", [&] {
               vlmstruct::TextSink sink(nowhere, "/dev/null");
               vlmstruct::writeAnalysisCsv(sink, bars, a);
               vlmstruct::writeStructuresJson(sink, argv[1], bars, a, false);
               sink.flush();
           });

    stage("streaming engine", [&] {
               vlm::StreamingEngine engine;
               for (std::size_t i = 0; i < n; ++i) engine.push(bars.high[i], bars.low[i]);
           });

    stage("structures replay", [&] {
               vlm::Replay replay;
               for (std::size_t i = 0; i < n; ++i) {
                   replay.push(bars.high[i], bars.low[i],
                               bars.close.empty() ? std::numeric_limits<float>::quiet_NaN() : bars.close[i]);
               }
           });

    stage("replay with points", [&] {
               vlm::PointReplay replay;
               for (std::size_t i = 0; i < n; ++i) {
                   replay.push(bars.high[i], bars.low[i],
                               bars.close.empty() ? std::numeric_limits<float>::quiet_NaN() : bars.close[i]);
               }
           });

    stage("replay written", [&] {
               vlmstruct::TextSink asOf(nowhere, "/dev/null"), events(nowhere, "/dev/null");
               vlmstruct::writeReplay(bars, {}, asOf, &events);
               asOf.flush();
               events.flush();
           });
    std::fclose(nowhere);
    return 0;
}
