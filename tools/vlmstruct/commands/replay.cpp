// replay: bar by bar, what the functions and the trading points showed when
// each bar was the last one, at one level or several.
#include <iostream>

#include "analysis/levels.h"
#include "analysis/replay_files.h"
#include "barfile/output_files.h"
#include "command.h"
#include "command_options.h"

namespace vlmstruct {

namespace {

class Replay final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        auto* command = app.add_subcommand(
            "replay", "Bar by bar, what the functions showed when each bar was the last one (no look-ahead)");
        command->add_option("BARS", input_, "Bar file")->required();
        command->add_option("-o,--output", asOfOut_, "As-of CSV, one row per bar (default: standard output)");
        command->add_option("--events", eventsOut_,
                            std::string("Events CSV: every mark or pivot that appeared, moved, vanished or became "
                                        "final") + kStandardOutputHelp);
        addNoDates(command, read_);
        levels_.addList(command,
                        "As-of columns of these levels too, e.g. 30min,day,week: at every bar, each level as it "
                        "stood then, its last bar unfinished (no --events)");
        levels_.addBinning(command);
        command->footer(kExitStatus);
        points_.addTo(command);
        return command;
    }

    int run() override {
        const vlm::TradingPointOptions points = points_.parse();
        if (!levels_.list.empty()) return runLevels(points);
        if (asOfOut_.empty()) asOfOut_ = "-";
        checkOutputPaths({{"-o", asOfOut_}, {"--events", eventsOut_}}, {input_});
        ReadOptions packed = read_;
        packed.packedDates = true;
        const BarSeries bars = load(input_, packed);
        // Written as the bars are replayed: no log of every row and event is kept.
        OutputFiles outputs;
        TextSink& asOf = outputs.open(asOfOut_);
        TextSink* events = eventsOut_.empty() ? nullptr : &outputs.open(eventsOut_);
        const std::size_t count = writeReplay(bars, points, asOf, events);
        outputs.commit();
        std::cerr << "vlmstruct: replayed " << bars.size() << " bars, " << count << " events\n";
        listWritten({asOfOut_, eventsOut_});
        return 0;
    }

private:
    int runLevels(const vlm::TradingPointOptions& points) {
        const std::vector<vlm::levels::Period> periods = parseLevels(levels_.list);
        if (!eventsOut_.empty()) {
            throw UsageError("--events lists the changes of one level: leave out --levels for it");
        }
        if (asOfOut_.empty()) asOfOut_ = "-";
        checkOutputPaths({{"-o", asOfOut_}}, {input_});
        const BarSeries bars = load(input_, read_);
        OutputFiles outputs;
        outputs.add(asOfOut_, levelsAsOfCsv(bars, periods, levels_.resample(), points));
        outputs.commit();
        std::cerr << "vlmstruct: replayed " << bars.size() << " bars at " << periods.size() + 1 << " levels\n";
        listWritten({asOfOut_});
        return 0;
    }

    std::string input_, asOfOut_, eventsOut_;
    ReadOptions read_;
    LevelFlags levels_;
    PointOptionFlags points_;
};

}  // namespace

std::unique_ptr<Command> makeReplayCommand() { return std::make_unique<Replay>(); }

}  // namespace vlmstruct
