// resample: the bars of a higher level, as a bar file.
#include <iostream>
#include <stdexcept>

#include "analysis/levels.h"
#include "barfile/output_files.h"
#include "command.h"
#include "command_options.h"

namespace vlmstruct {

namespace {

class Resample final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        auto* command = app.add_subcommand("resample", "Write the bars of a higher level: open first, high max, "
                                                       "low min, close last, volume summed");
        command->add_option("BARS", input_, "Bar file")->required();
        command->add_option("--level", level_, "The level, e.g. 30min, day, week, month")->required();
        command->add_option("-o,--output", output_, std::string("Bar file of the level") + kStandardOutputHelp)
            ->required();
        levels_.addBinning(command);
        command->footer(kExitStatus);
        return command;
    }

    int run() override {
        const auto period = vlm::levels::ParsePeriod(level_);
        if (!period) throw UsageError("--level: " + vlm::levels::PeriodProblem(level_));
        checkOutputPaths({{"-o", output_}}, {input_});
        const BarSeries bars = load(input_, read_);
        if (bars.dates.empty()) throw std::invalid_argument(input_ + ": resampling needs the bars' dates");
        const std::vector<vlm::levels::Seconds> time = barSeconds(bars);
        const vlm::levels::LevelBars level = vlm::levels::Resample(
            {time, bars.open, bars.high, bars.low, bars.close, bars.volume}, *period, levels_.resample());
        OutputFiles outputs;
        outputs.add(output_, levelBarsCsv(levelSeries(level, period->unit == vlm::levels::Period::Unit::Minute)));
        outputs.commit();
        std::cerr << "vlmstruct: " << bars.size() << " bars into " << level.size() << " "
                  << vlm::levels::PeriodName(*period) << " bars"
                  << (level.lastUnfinished ? ", the last one unfinished" : "") << "\n";
        listWritten({output_});
        return 0;
    }

private:
    std::string input_, output_, level_;
    ReadOptions read_;  // resample has no --no-dates: it needs the dates
    LevelFlags levels_;
};

}  // namespace

std::unique_ptr<Command> makeResampleCommand() { return std::make_unique<Resample>(); }

}  // namespace vlmstruct
