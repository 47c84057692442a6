// analyze: the nine functions, the structures and the trading points of a
// bar file, or of several levels of it.
#include <algorithm>
#include <iostream>

#include "analysis/analysis.h"
#include "analysis/levels.h"
#include "analysis/structure_files.h"
#include "barfile/output_files.h"
#include "chart.h"
#include "command.h"
#include "command_options.h"
#include "levels_chart.h"

namespace vlmstruct {

namespace {

class Analyze final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        auto* command = app.add_subcommand("analyze", "Run all nine functions on a bar file");
        command->add_option("BARS", input_, "Bar file (CSV, tab, semicolon or space separated)")->required();
        command->add_option("-o,--output", csvOut_, std::string("Per-bar output CSV") + kStandardOutputHelp);
        command->add_option("--json", jsonOut_, std::string("Structures as JSON") + kStandardOutputHelp);
        command->add_option("--html", htmlOut_, std::string("Chart as a self-contained HTML file") + kStandardOutputHelp);
        command->add_flag("--open-pivot", openPivot_, "Also show the pivot still under way at the last bar");
        addNoDates(command, read_);
        levels_.addList(command,
                        "Also these levels resampled from the bars, e.g. 30min,day,week (N min with N dividing "
                        "60 or whole hours dividing a day, day, week, month), linked to each other");
        levels_.addBinning(command);
        command->footer(kExitStatus);
        points_.addTo(command);
        return command;
    }

    int run() override {
        const vlm::TradingPointOptions points = points_.parse();
        if (!levels_.list.empty()) return runLevels(points);
        checkOutputPaths({{"-o", csvOut_}, {"--json", jsonOut_}, {"--html", htmlOut_}}, {input_});
        // The chart takes the dates as text; the files are written from packed ones.
        ReadOptions packed = read_;
        packed.packedDates = htmlOut_.empty();
        packed.keepOpenAndVolume = !htmlOut_.empty();  // only the chart draws candles and volumes
        const BarSeries bars = load(input_, packed);
        const Analysis a = analyse(bars, points);
        if (csvOut_.empty() && jsonOut_.empty() && htmlOut_.empty()) csvOut_ = "-";
        OutputFiles outputs;
        if (!csvOut_.empty()) writeAnalysisCsv(outputs.open(csvOut_), bars, a);
        if (!jsonOut_.empty()) writeStructuresJson(outputs.open(jsonOut_), input_, bars, a, openPivot_);
        if (!htmlOut_.empty()) outputs.add(htmlOut_, chartHtml(titleOf(input_), bars, a, openPivot_, points));
        outputs.commit();
        const std::vector<std::string> files{csvOut_, jsonOut_, htmlOut_};
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
        return 0;
    }

private:
    int runLevels(const vlm::TradingPointOptions& points) {
        const std::vector<vlm::levels::Period> periods = parseLevels(levels_.list);
        checkOutputPaths({{"-o", csvOut_}, {"--json", jsonOut_}, {"--html", htmlOut_}}, {input_});
        const BarSeries bars = load(input_, read_);
        const Levels all = analyseLevels(bars, periods, levels_.resample(), points, openPivot_);
        if (csvOut_.empty() && jsonOut_.empty() && htmlOut_.empty()) csvOut_ = "-";
        OutputFiles outputs;
        if (!csvOut_.empty()) outputs.add(csvOut_, levelsCsv(bars, all));
        if (!jsonOut_.empty()) outputs.add(jsonOut_, levelsJson(input_, all, openPivot_));
        if (!htmlOut_.empty()) outputs.add(htmlOut_, levelsChartHtml(titleOf(input_), all, openPivot_, points));
        outputs.commit();
        for (std::size_t k = 0; k < all.levels.size(); ++k) {
            const Level& level = all.levels[k];
            std::cerr << "vlmstruct: " << (k == 0 ? std::string("base") : vlm::levels::PeriodName(level.period))
                      << ": " << level.bars.size() << " bars" << (level.resampled.lastUnfinished ? " (the last unfinished)" : "")
                      << ", " << level.analysis.strokes.size() << " strokes, " << level.analysis.pivots.size()
                      << " pivot zones, " << level.analysis.points.size() << " trading points\n";
        }
        listWritten({csvOut_, jsonOut_, htmlOut_});
        return 0;
    }

    std::string input_, csvOut_, jsonOut_, htmlOut_;
    bool openPivot_ = false;
    ReadOptions read_;
    LevelFlags levels_;
    PointOptionFlags points_;
};

}  // namespace

std::unique_ptr<Command> makeAnalyzeCommand() { return std::make_unique<Analyze>(); }

}  // namespace vlmstruct
