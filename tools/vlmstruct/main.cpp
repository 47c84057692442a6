// vlmstruct: the plug-in's nine functions on bar files, outside the host.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <thread>

#include "analysis.h"
#include "bar_file.h"
#include "chart.h"
#include "output_files.h"
#include "replay_files.h"
#include "scan.h"

namespace {

using namespace vlmstruct;

BarSeries load(const std::string& path) {
    ReadReport report;
    BarSeries bars = readBarFile(path, &report);
    if (report.reordered) {
        std::cerr << "vlmstruct: " << path << ": rows were not in date order; sorted ascending\n";
    }
    return bars;
}

std::string titleOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vlmstruct: strokes, segments and pivot zones of bar files, exactly as the plug-in computes them"};
    app.require_subcommand(1);

    std::string input, csvOut, jsonOut, htmlOut;
    bool openPivot = false;
    auto* analyze = app.add_subcommand("analyze", "Run all nine functions on a bar file");
    analyze->add_option("BARS", input, "Bar file (CSV, tab, semicolon or space separated)")->required();
    analyze->add_option("-o,--output", csvOut, "Per-bar output CSV");
    analyze->add_option("--json", jsonOut, "Structures as JSON");
    analyze->add_option("--html", htmlOut, "Chart as a self-contained HTML file");
    analyze->add_flag("--open-pivot", openPivot, "Also show the pivot still under way at the last bar");

    std::string chartIn, chartOut;
    bool chartOpenPivot = false;
    auto* chart = app.add_subcommand("chart", "Write the chart of a bar file");
    chart->add_option("BARS", chartIn, "Bar file")->required();
    chart->add_option("-o,--output", chartOut, "HTML file")->required();
    chart->add_flag("--open-pivot", chartOpenPivot, "Also show the pivot still under way");

    std::string folder, summaryOut;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    auto* scan = app.add_subcommand("scan", "Summarise every bar file of a folder");
    scan->add_option("DIR", folder, "Folder of bar files (.csv, .txt, .tsv)")->required()->check(CLI::ExistingDirectory);
    scan->add_option("--jobs,-j", jobs, "Files analysed at once")->check(CLI::Range(1u, 256u));
    scan->add_option("-o,--output", summaryOut, "Summary CSV (default: standard output)");

    std::string replayIn, asOfOut, eventsOut;
    auto* replay = app.add_subcommand(
        "replay", "Bar by bar, what the functions showed when each bar was the last one (no look-ahead)");
    replay->add_option("BARS", replayIn, "Bar file")->required();
    replay->add_option("-o,--output", asOfOut, "As-of CSV, one row per bar (default: standard output)");
    replay->add_option("--events", eventsOut, "Events CSV: every mark or pivot that appeared, moved, vanished or became final");

    CLI11_PARSE(app, argc, argv);

    try {
        if (*analyze) {
            const BarSeries bars = load(input);
            const Analysis a = analyse(bars);
            if (csvOut.empty() && jsonOut.empty() && htmlOut.empty()) {
                std::cout << analysisCsv(bars, a);
                return 0;
            }
            if (!csvOut.empty()) writeFileAtomically(csvOut, analysisCsv(bars, a));
            if (!jsonOut.empty()) writeFileAtomically(jsonOut, structuresJson(input, bars, a, openPivot));
            if (!htmlOut.empty()) writeFileAtomically(htmlOut, chartHtml(titleOf(input), bars, a, openPivot));
            std::cerr << "vlmstruct: " << bars.size() << " bars, " << a.strokes.size() << " strokes, "
                      << a.segments.size() << " segments, " << a.pivots.size() << " pivot zones\n";
            for (const std::string& f : {csvOut, jsonOut, htmlOut}) {
                if (!f.empty()) std::cout << f << "\n";
            }
        } else if (*chart) {
            const BarSeries bars = load(chartIn);
            writeFileAtomically(chartOut, chartHtml(titleOf(chartIn), bars, analyse(bars), chartOpenPivot));
            std::cout << chartOut << "\n";
        } else if (*replay) {
            const BarSeries bars = load(replayIn);
            const vlm::ReplayLog log = replayBars(bars);
            // Both files are made before either is written: a failure leaves neither.
            const std::string asOf = asOfCsv(bars, log);
            const std::string events = eventsOut.empty() ? std::string() : eventsCsv(bars, log);
            if (asOfOut.empty()) {
                std::cout << asOf;
            } else {
                writeFileAtomically(asOfOut, asOf);
            }
            if (!eventsOut.empty()) writeFileAtomically(eventsOut, events);
            std::cerr << "vlmstruct: replayed " << bars.size() << " bars, " << log.events.size()
                      << " events\n";
            for (const std::string& f : {asOfOut, eventsOut}) {
                if (!f.empty()) std::cout << f << "\n";
            }
        } else if (*scan) {
            const std::vector<ScanRow> rows = scanFolder(folder, {jobs, true});
            const std::string summary = scanCsv(rows);
            if (summaryOut.empty()) {
                std::cout << summary;
            } else {
                writeFileAtomically(summaryOut, summary);
            }
            std::size_t failed = 0;
            for (const ScanRow& r : rows) {
                if (r.error.empty()) continue;
                ++failed;
                std::cerr << "vlmstruct: " << r.error << "\n";
            }
            std::cerr << "vlmstruct: " << rows.size() - failed << " of " << rows.size() << " files analysed\n";
            return failed == 0 ? 0 : 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "vlmstruct: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
