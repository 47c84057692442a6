// chart: the self-contained HTML chart of a bar file.
#include <iostream>

#include "analysis/analysis.h"
#include "barfile/output_files.h"
#include "chart.h"
#include "command.h"
#include "command_options.h"

namespace vlmstruct {

namespace {

class Chart final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        auto* command = app.add_subcommand("chart", "Write the chart of a bar file");
        command->add_option("BARS", input_, "Bar file")->required();
        command->add_option("-o,--output", output_, std::string("HTML file") + kStandardOutputHelp)->required();
        command->add_flag("--open-pivot", openPivot_, "Also show the pivot still under way");
        command->add_flag("--companion", companion_,
                          "Also draw what a host formula draws with the companion plug-in: the pivots of segments "
                          "and the live points");
        addNoDates(command, read_);
        command->footer(kExitStatus);
        points_.addTo(command);
        return command;
    }

    int run() override {
        const vlm::TradingPointOptions points = points_.parse();
        if (companion_ && points_.anyGiven()) {
            throw UsageError("--companion draws the companion plug-in's values, which use the default "
                             "trading-point options; drop --macd, --force, --class1-min-run and "
                             "--divergence-ratio");
        }
        checkOutputPaths({{"-o", output_}}, {input_});
        const BarSeries bars = load(input_, read_);
        OutputFiles outputs;
        outputs.add(output_, chartHtml(titleOf(input_), bars, analyse(bars, points), openPivot_, points, companion_));
        outputs.commit();
        listWritten({output_});
        return 0;
    }

private:
    std::string input_, output_;
    bool openPivot_ = false;
    bool companion_ = false;
    ReadOptions read_;
    PointOptionFlags points_;
};

}  // namespace

std::unique_ptr<Command> makeChartCommand() { return std::make_unique<Chart>(); }

}  // namespace vlmstruct
