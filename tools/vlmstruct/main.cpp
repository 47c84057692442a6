// vlmstruct: the plug-in's nine functions on bar files, outside the host.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "chart.h"
#include "levels_chart.h"
#include "analysis/levels.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "point_options.h"
#include "analysis/replay_files.h"
#include "analysis/scan.h"

namespace {

using namespace vlmstruct;

constexpr int kBadInput = 1;
constexpr int kUsage = 2;
constexpr const char* kExitStatus =
    "Exit status: 0 success, 1 bad input or a file that could not be read or written, 2 usage error.";

BarSeries load(const std::string& path, const ReadOptions& options) {
    ReadReport report;
    BarSeries bars = readBarFile(path, &report, options);
    if (report.reordered) {
        std::cerr << "vlmstruct: " << path << ": rows were not in date order; sorted ascending\n";
    }
    if (report.noDates) {
        std::cerr << "vlmstruct: " << path << ": no date column; bars taken in file order\n";
    }
    return bars;
}

std::string titleOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "; did you mean 'x'?" when one valid name is close, else the list of them.
std::string suggestion(const std::string& given, const std::vector<std::string>& valid) {
    std::string best;
    std::size_t distance = std::string::npos;
    for (const std::string& v : valid) {
        const std::size_t d = editDistance(given, v);
        if (d < distance) {
            distance = d;
            best = v;
        }
    }
    if (!best.empty() && distance <= std::max<std::size_t>(2, given.size() / 3)) {
        return "; did you mean '" + best + "'?";
    }
    std::string all;
    for (const std::string& v : valid) all += (all.empty() ? "" : ", ") + v;
    return " (valid: " + all + ")";
}

std::vector<std::string> optionNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string& n : option->get_snames()) names.push_back("-" + n);
    }
    return names;
}

// The first argument that looks like an option and is not one of `command`'s.
std::optional<std::string> unknownOption(const CLI::App& command, const std::vector<std::string>& args) {
    const std::vector<std::string> known = optionNames(command);
    for (const std::string& arg : args) {
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") continue;
        std::string name = arg.substr(0, arg.find('='));
        // -ofile is -o with its value attached.
        if (name[1] != '-') name = name.substr(0, 2);
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            return "unknown option '" + arg.substr(0, arg.find('=')) + "' for " + command.get_name() +
                   suggestion(name, known);
        }
    }
    return std::nullopt;
}

// scan --scheduler: the module's distributed helpers run the scan on a Dask
// cluster, each worker with this tool's per-file routine, and write the same
// summary. The interpreter is VLMSTRUCT_PYTHON (the console command sets it to
// its own) or /usr/bin/python3; the module beside the tool, in a build folder
// or an installed package, is put on its path.
int scanOnScheduler(const std::string& folder, const std::string& scheduler, const std::string& summaryOut,
                    bool recursive, bool noDates) {
    const char* chosen = std::getenv("VLMSTRUCT_PYTHON");
    const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : "/usr/bin/python3";
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    for (const std::filesystem::path& root : {here / ".." / ".." / "python", here / ".." / ".."}) {
        if (ec || !std::filesystem::exists(root / "vlmstruct" / "distributed.py", ec)) continue;
        const char* old = std::getenv("PYTHONPATH");
        const std::string path = std::filesystem::weakly_canonical(root, ec).string();
        ::setenv("PYTHONPATH", (old != nullptr && *old != '\0' ? path + ":" + old : path).c_str(), 1);
        break;
    }
    std::vector<std::string> args{python, "-m", "vlmstruct.distributed", "scan", folder, "--scheduler", scheduler};
    if (!summaryOut.empty()) args.insert(args.end(), {"-o", summaryOut});
    if (recursive) args.emplace_back("--recursive");
    if (noDates) args.emplace_back("--no-dates");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::cout.flush();
    ::execv(python.c_str(), argv.data());
    std::cerr << "vlmstruct: cannot run " << python << " for --scheduler: " << std::strerror(errno)
              << " (VLMSTRUCT_PYTHON names the interpreter)\n";
    return kBadInput;
}

// The trading-point options every command that shows points takes.
struct PointOptionFlags {
    std::string macd, force, class1MinRun, divergenceRatio;
    std::vector<std::pair<CLI::Option*, std::string*>> given;

    void addTo(CLI::App* command) {
        const std::pair<const char*, std::string*> options[] = {
            {"--macd", &macd}, {"--force", &force}, {"--class1-min-run", &class1MinRun},
            {"--divergence-ratio", &divergenceRatio}};
        const char* help[] = {"Trading points: MACD periods FAST,SLOW,SIGNAL (default 12,26,9)",
                              "Trading points: stroke force measure, area|full-area|peak|slope (default area)",
                              "Trading points: pivots of a trend in a row a first-class point needs (default 2)",
                              "Trading points: leaving force must be below R x entering force (default 1.0)"};
        for (std::size_t k = 0; k < std::size(options); ++k) {
            given.emplace_back(command->add_option(options[k].first, *options[k].second, help[k]), options[k].second);
        }
    }
    [[nodiscard]] bool anyGiven() const {
        return std::any_of(given.begin(), given.end(), [](const auto& g) { return g.first->count() > 0; });
    }
    // Only the options given on the command line; each is checked, naming it.
    [[nodiscard]] vlm::TradingPointOptions parse() const {
        PointOptionText text;
        std::optional<std::string>* slots[] = {&text.macd, &text.force, &text.class1MinRun, &text.divergenceRatio};
        for (std::size_t k = 0; k < given.size(); ++k) {
            if (given[k].first->count() > 0) *slots[k % 4] = *given[k].second;
        }
        return parsePointOptions(text);
    }
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vlmstruct: strokes, segments and pivot zones of bar files, exactly as the plug-in computes them"};
    app.set_version_flag("--version", std::string("vlmstruct ") + VLM_VERSION);
    app.footer(kExitStatus);
    app.require_subcommand(1);

    std::string input, csvOut, jsonOut, htmlOut;
    bool openPivot = false;
    ReadOptions read;
    const char* noDatesHelp = "Accept a file without a date column: its bars are taken in file order";
    const char* standardOutputHelp = " ('-' for standard output)";
    auto* analyze = app.add_subcommand("analyze", "Run all nine functions on a bar file");
    analyze->add_option("BARS", input, "Bar file (CSV, tab, semicolon or space separated)")->required();
    analyze->add_option("-o,--output", csvOut, std::string("Per-bar output CSV") + standardOutputHelp);
    analyze->add_option("--json", jsonOut, std::string("Structures as JSON") + standardOutputHelp);
    analyze->add_option("--html", htmlOut, std::string("Chart as a self-contained HTML file") + standardOutputHelp);
    analyze->add_flag("--open-pivot", openPivot, "Also show the pivot still under way at the last bar");
    analyze->add_flag("--no-dates", read.allowNoDates, noDatesHelp);
    std::string levelList;
    std::string bins = "session";
    int sessionGap = 0;
    analyze->add_option("--levels", levelList,
                        "Also these levels resampled from the bars, e.g. 30min,day,week (N min with N dividing "
                        "60 or whole hours dividing a day, day, week, month), linked to each other");
    const auto addLevelOptions = [&](CLI::App* command) {
        command->add_option("--bins", bins,
                            "Intraday bins counted from each session's first bar (session) or at clock "
                            "multiples from midnight (clock)")
            ->check(CLI::IsMember({"session", "clock"}));
        command->add_option("--session-gap", sessionGap,
                            "Minutes of no bars that start a new session (default: twice the bar interval, "
                            "at least the interval plus 15 minutes)")
            ->check(CLI::Range(1, 7 * 24 * 60));
    };
    addLevelOptions(analyze);

    std::string chartIn, chartOut;
    bool chartOpenPivot = false;
    bool chartCompanion = false;
    auto* chart = app.add_subcommand("chart", "Write the chart of a bar file");
    chart->add_option("BARS", chartIn, "Bar file")->required();
    chart->add_option("-o,--output", chartOut, std::string("HTML file") + standardOutputHelp)->required();
    chart->add_flag("--open-pivot", chartOpenPivot, "Also show the pivot still under way");
    chart->add_flag("--companion", chartCompanion,
                    "Also draw what a host formula draws with the companion plug-in: the pivots of segments "
                    "and the live points");
    chart->add_flag("--no-dates", read.allowNoDates, noDatesHelp);

    std::string folder, summaryOut;
    ScanOptions scanOptions;
    scanOptions.jobs = std::max(1u, std::thread::hardware_concurrency());
    auto* scan = app.add_subcommand("scan", "Summarise every bar file of a folder");
    scan->add_option("DIR", folder, "Folder of bar files (.csv, .txt, .tsv)")->required();
    scan->add_option("--jobs,-j", scanOptions.jobs, "Files analysed at once")->check(CLI::Range(1u, 256u));
    scan->add_option("-o,--output", summaryOut, "Summary CSV (default: standard output)");
    scan->add_flag("-r,--recursive", scanOptions.recursive, "Also the bar files of every subfolder");
    scan->add_flag("--no-dates", read.allowNoDates, noDatesHelp);
    std::string scheduler;
    auto* jobsOption = scan->get_option("--jobs");
    scan->add_option("--scheduler", scheduler,
                     "Run on a Dask cluster: the scheduler's address, e.g. tcp://host:8786 (needs the Python "
                     "module and Dask's distributed; the files must be at the same path on every worker)")
        ->excludes(jobsOption);

    std::string resampleIn, resampleOut, resampleLevel;
    auto* resample = app.add_subcommand("resample", "Write the bars of a higher level: open first, high max, "
                                                    "low min, close last, volume summed");
    resample->add_option("BARS", resampleIn, "Bar file")->required();
    resample->add_option("--level", resampleLevel, "The level, e.g. 30min, day, week, month")->required();
    resample->add_option("-o,--output", resampleOut, std::string("Bar file of the level") + standardOutputHelp)
        ->required();
    addLevelOptions(resample);
    resample->footer(kExitStatus);

    std::string replayIn, asOfOut, eventsOut;
    auto* replay = app.add_subcommand(
        "replay", "Bar by bar, what the functions showed when each bar was the last one (no look-ahead)");
    replay->add_option("BARS", replayIn, "Bar file")->required();
    replay->add_option("-o,--output", asOfOut, "As-of CSV, one row per bar (default: standard output)");
    replay->add_option("--events", eventsOut,
                       std::string("Events CSV: every mark or pivot that appeared, moved, vanished or became final") +
                           standardOutputHelp);
    replay->add_flag("--no-dates", read.allowNoDates, noDatesHelp);
    replay->add_option("--levels", levelList,
                       "As-of columns of these levels too, e.g. 30min,day,week: at every bar, each level as it "
                       "stood then, its last bar unfinished (no --events)");
    addLevelOptions(replay);

    // One set of variables: only one command runs.
    PointOptionFlags pointFlags;
    for (CLI::App* command : {analyze, chart, scan, replay}) {
        command->footer(kExitStatus);
        pointFlags.addTo(command);
    }

    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
    const auto named = std::find_if(args.begin(), args.end(), [](const std::string& a) { return a.empty() || a[0] != '-'; });
    if (named != args.end() && std::find(commands.begin(), commands.end(), *named) == commands.end()) {
        std::cerr << "vlmstruct: unknown command '" << *named << "'" << suggestion(*named, commands)
                  << "\nRun with --help for more information.\n";
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        if (named != args.end()) {
            const std::vector<std::string> rest(named + 1, args.end());
            if (const auto unknown = unknownOption(*app.get_subcommand(*named), rest)) message = *unknown;
        } else if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
            message = "a command is required: analyze, chart, scan, replay or resample";
        }
        std::cerr << "vlmstruct: " << message << "\nRun with --help for more information.\n";
        return kUsage;
    }

    try {
        OutputFiles outputs;
        const vlm::TradingPointOptions pointOptions = pointFlags.parse();
        const vlm::levels::ResampleOptions resampleOptions{
            bins == "clock" ? vlm::levels::Bins::Clock : vlm::levels::Bins::Session,
            static_cast<vlm::levels::Seconds>(sessionGap) * 60};
        if (*analyze && !levelList.empty()) {
            const std::vector<vlm::levels::Period> periods = parseLevels(levelList);
            checkOutputPaths({{"-o", csvOut}, {"--json", jsonOut}, {"--html", htmlOut}}, {input});
            const BarSeries bars = load(input, read);
            const Levels all = analyseLevels(bars, periods, resampleOptions, pointOptions, openPivot);
            if (csvOut.empty() && jsonOut.empty() && htmlOut.empty()) csvOut = "-";
            if (!csvOut.empty()) outputs.add(csvOut, levelsCsv(bars, all));
            if (!jsonOut.empty()) outputs.add(jsonOut, levelsJson(input, all, openPivot));
            if (!htmlOut.empty()) outputs.add(htmlOut, levelsChartHtml(titleOf(input), all, openPivot, pointOptions));
            outputs.commit();
            for (std::size_t k = 0; k < all.levels.size(); ++k) {
                const Level& level = all.levels[k];
                std::cerr << "vlmstruct: " << (k == 0 ? std::string("base") : vlm::levels::PeriodName(level.period))
                          << ": " << level.bars.size() << " bars" << (level.resampled.lastUnfinished ? " (the last unfinished)" : "")
                          << ", " << level.analysis.strokes.size() << " strokes, " << level.analysis.pivots.size()
                          << " pivot zones, " << level.analysis.points.size() << " trading points\n";
            }
            for (const std::string& f : {csvOut, jsonOut, htmlOut}) {
                if (!f.empty() && !isStandardOutput(f)) std::cout << f << "\n";
            }
        } else if (*resample) {
            const auto period = vlm::levels::ParsePeriod(resampleLevel);
            if (!period) throw UsageError("--level: " + vlm::levels::PeriodProblem(resampleLevel));
            checkOutputPaths({{"-o", resampleOut}}, {resampleIn});
            const BarSeries bars = load(resampleIn, read);
            if (bars.dates.empty()) throw std::invalid_argument(resampleIn + ": resampling needs the bars' dates");
            std::vector<vlm::levels::Seconds> time;
            for (const std::string& d : bars.dates) time.push_back(barTime(d));
            const vlm::levels::LevelBars level = vlm::levels::Resample(
                {time, bars.open, bars.high, bars.low, bars.close, bars.volume}, *period, resampleOptions);
            outputs.add(resampleOut,
                        levelBarsCsv(levelSeries(level, period->unit == vlm::levels::Period::Unit::Minute)));
            outputs.commit();
            std::cerr << "vlmstruct: " << bars.size() << " bars into " << level.size() << " "
                      << vlm::levels::PeriodName(*period) << " bars"
                      << (level.lastUnfinished ? ", the last one unfinished" : "") << "\n";
            if (!isStandardOutput(resampleOut)) std::cout << resampleOut << "\n";
        } else if (*analyze) {
            checkOutputPaths({{"-o", csvOut}, {"--json", jsonOut}, {"--html", htmlOut}}, {input});
            // The chart takes the dates as text; the files are written from packed ones.
            ReadOptions packed = read;
            packed.packedDates = htmlOut.empty();
            packed.keepOpenAndVolume = !htmlOut.empty();  // only the chart draws candles and volumes
            const BarSeries bars = load(input, packed);
            const Analysis a = analyse(bars, pointOptions);
            if (csvOut.empty() && jsonOut.empty() && htmlOut.empty()) csvOut = "-";
            if (!csvOut.empty()) writeAnalysisCsv(outputs.open(csvOut), bars, a);
            if (!jsonOut.empty()) writeStructuresJson(outputs.open(jsonOut), input, bars, a, openPivot);
            if (!htmlOut.empty()) outputs.add(htmlOut, chartHtml(titleOf(input), bars, a, openPivot, pointOptions));
            outputs.commit();
            const std::vector<std::string> files{csvOut, jsonOut, htmlOut};
            const bool toFiles = std::any_of(files.begin(), files.end(),
                                             [](const std::string& f) { return !f.empty() && !isStandardOutput(f); });
            const bool toStandardOutput = std::any_of(files.begin(), files.end(), isStandardOutput);
            if (toFiles) {
                std::cerr << "vlmstruct: " << bars.size() << " bars, " << a.strokes.size() << " strokes, "
                          << a.segments.size() << " segments, " << a.pivots.size() << " pivot zones, "
                          << a.points.size() << " trading points\n";
            }
            // The files written are listed unless standard output carries an output itself.
            for (const std::string& f : files) {
                if (!toStandardOutput && !f.empty()) std::cout << f << "\n";
            }
        } else if (*chart) {
            if (chartCompanion && pointFlags.anyGiven()) {
                throw UsageError("--companion draws the companion plug-in's values, which use the default "
                                 "trading-point options; drop --macd, --force, --class1-min-run and "
                                 "--divergence-ratio");
            }
            checkOutputPaths({{"-o", chartOut}}, {chartIn});
            const BarSeries bars = load(chartIn, read);
            outputs.add(chartOut, chartHtml(titleOf(chartIn), bars, analyse(bars, pointOptions), chartOpenPivot,
                                            pointOptions, chartCompanion));
            outputs.commit();
            if (!isStandardOutput(chartOut)) std::cout << chartOut << "\n";
        } else if (*replay && !levelList.empty()) {
            const std::vector<vlm::levels::Period> periods = parseLevels(levelList);
            if (!eventsOut.empty()) {
                throw UsageError("--events lists the changes of one level: leave out --levels for it");
            }
            if (asOfOut.empty()) asOfOut = "-";
            checkOutputPaths({{"-o", asOfOut}}, {replayIn});
            const BarSeries bars = load(replayIn, read);
            outputs.add(asOfOut, levelsAsOfCsv(bars, periods, resampleOptions, pointOptions));
            outputs.commit();
            std::cerr << "vlmstruct: replayed " << bars.size() << " bars at " << periods.size() + 1 << " levels\n";
            if (!isStandardOutput(asOfOut)) std::cout << asOfOut << "\n";
        } else if (*replay) {
            if (asOfOut.empty()) asOfOut = "-";
            checkOutputPaths({{"-o", asOfOut}, {"--events", eventsOut}}, {replayIn});
            ReadOptions packed = read;
            packed.packedDates = true;
            const BarSeries bars = load(replayIn, packed);
            // Written as the bars are replayed: no log of every row and event is kept.
            TextSink& asOf = outputs.open(asOfOut);
            TextSink* events = eventsOut.empty() ? nullptr : &outputs.open(eventsOut);
            const std::size_t count = writeReplay(bars, pointOptions, asOf, events);
            outputs.commit();
            std::cerr << "vlmstruct: replayed " << bars.size() << " bars, " << count << " events\n";
            for (const std::string& f : {asOfOut, eventsOut}) {
                if (!f.empty() && !isStandardOutput(f)) std::cout << f << "\n";
            }
        } else if (*scan) {
            if (!scheduler.empty()) {
                if (pointFlags.anyGiven()) {
                    throw UsageError("--scheduler runs the scan with the default trading-point options; "
                                     "drop --macd, --force, --class1-min-run and --divergence-ratio");
                }
                return scanOnScheduler(folder, scheduler, summaryOut, scanOptions.recursive, read.allowNoDates);
            }
            std::error_code ec;
            if (!std::filesystem::is_directory(folder, ec)) {
                std::cerr << "vlmstruct: " << folder
                          << (std::filesystem::exists(folder, ec) ? ": not a folder\n" : ": no such folder\n");
                return kBadInput;
            }
            scanOptions.read = read;
            scanOptions.points = pointOptions;
            if (!summaryOut.empty() && !isStandardOutput(summaryOut)) scanOptions.exclude.push_back(summaryOut);
            const BarFileList list = barFilesIn(folder, scanOptions);
            if (list.skippedFolders > 0) {
                std::cerr << "vlmstruct: " << list.skippedFolders << " subfolder"
                          << (list.skippedFolders == 1 ? "" : "s") << " of " << folder
                          << " not looked into (--recursive scans them)\n";
            }
            if (list.files.empty()) {
                std::cerr << "vlmstruct: " << folder << ": no bar files (.csv, .txt, .tsv) to scan\n";
                return kBadInput;
            }
            const std::vector<ScanRow> rows = scanFiles(folder, list, scanOptions);
            outputs.add(summaryOut.empty() ? "-" : summaryOut, scanCsv(rows));
            outputs.commit();
            std::size_t failed = 0;
            for (const ScanRow& r : rows) {
                if (r.error.empty()) continue;
                ++failed;
                std::cerr << "vlmstruct: " << r.error << "\n";
            }
            std::cerr << "vlmstruct: " << rows.size() - failed << " of " << rows.size() << " files analysed\n";
            return failed == 0 ? 0 : kBadInput;
        }
    } catch (const UsageError& e) {
        std::cerr << "vlmstruct: " << e.what() << "\n";
        return kUsage;
    } catch (const std::exception& e) {
        std::cerr << "vlmstruct: " << e.what() << "\n";
        return kBadInput;
    }
    return 0;
}
