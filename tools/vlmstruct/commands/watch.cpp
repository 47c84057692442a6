// watch: a bar file followed as a feed appends to it, one JSON alert per
// event of each new bar, to standard output and to a command or a webhook.
#include <iostream>
#include <stdexcept>

#include "analysis/levels.h"
#include "barfile/usage_error.h"
#include "command.h"
#include "command_options.h"
#include "watch/follower.h"

namespace vlmstruct {

namespace {

using namespace vlmstruct::watch;

// A value of the state's option list: one line.
std::string oneLine(std::string text) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
        text.replace(at, 1, "\\n");
    }
    return text;
}

class Watch final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        auto* command = app.add_subcommand(
            "watch", "Follow a bar file as a feed appends to it: one JSON line per event of each new bar");
        command->add_option("BARS", input_, "Bar file (UTF-8), read whole, then every row added to it")->required();
        command->add_option("--interval", interval_, "Seconds between looks at the file (default 0.5)")
            ->check(CLI::Range(0.01, 3600.0));
        command->add_flag("--forming", forming_,
                          "The last row is the bar still forming: rewritten in place with the same date, pushed "
                          "finished when a later row follows; its alerts carry \"final\": false and fire once");
        command->add_flag("--new-only", newOnly_,
                          "The rows already in the file only warm up: alerts from the rows added after");
        command->add_option("--on", on_,
                            "Only these events, as subject:event pairs, e.g. "
                            "trading_point:appeared,trading_point:confirmed ('*' for any)");
        command->add_option("--exec", exec_, "Run this command (by /bin/sh) per alert, the JSON on its standard input");
        command->add_option("--webhook", webhook_,
                            "POST each alert's JSON to this http(s) URL; retried with backoff, kept in order");
        command->add_option("--state", state_,
                            "Keep the position, a snapshot and the undelivered alerts in this file (and FILE.snapshot) "
                            "so that a restart continues where it stopped");
        levels_.addList(command,
                        "Add each level's as-of row at the bar to every alert, e.g. 30min,day,week, its columns "
                        "named as replay --levels names them");
        levels_.addBinning(command);
        command->footer(std::string("Stops cleanly on SIGINT or SIGTERM: the bar under way finished, the alerts "
                                    "delivered for a few seconds, the state written.\n") + kExitStatus);
        points_.addTo(command);
        return command;
    }

    int run() override {
        WatchSettings settings;
        settings.path = input_;
        settings.stream.points = points_.parse();
        std::string levelList;
        if (!levels_.list.empty()) {
            settings.stream.periods = parseLevels(levels_.list);
            settings.levelNames.emplace_back(kBaseLevelName);
            for (const auto& period : settings.stream.periods) {
                settings.levelNames.push_back(vlm::levels::PeriodName(period));
                levelList += (levelList.empty() ? "" : ",") + settings.levelNames.back();
            }
        }
        settings.stream.resample = levels_.resample();
        try {
            vlm::live::Stream check(settings.stream);  // options the stream refuses, before any file is read
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        settings.forming = forming_;
        settings.newOnly = newOnly_;
        settings.interval = interval_;
        if (!on_.empty()) settings.filter = EventFilter::parse(on_);
        if (!state_.empty()) {
            const auto given = [](const std::string& s) { return s.empty() ? std::string("default") : s; };
            settings.state.emplace(state_, OptionList{
                {"levels", levelList.empty() ? "none" : levelList},
                {"bins", levels_.bins},
                {"session-gap", std::to_string(levels_.sessionGap)},
                {"macd", given(points_.macd)},
                {"force", given(points_.force)},
                {"class1-min-run", given(points_.class1MinRun)},
                {"divergence-ratio", given(points_.divergenceRatio)},
                {"forming", forming_ ? "yes" : "no"},
                {"exec", oneLine(exec_)},
                {"webhook", oneLine(webhook_)},
            });
        }
        std::optional<Outbox> outbox;
        if (!exec_.empty() || !webhook_.empty()) {
            try {
                Targets targets;
                targets.exec = exec_;
                targets.webhook = webhook_;
                outbox.emplace(std::move(targets));
            } catch (const std::invalid_argument& e) {
                throw UsageError(std::string("--webhook: ") + e.what());
            }
        }
        const StopSignal stop;
        Follower follower(std::move(settings), outbox ? &*outbox : nullptr);
        std::cerr << "vlmstruct: watching " << input_ << " (SIGINT or SIGTERM stops)\n";
        follower.run(stop);
        return 0;
    }

private:
    std::string input_, on_, exec_, webhook_, state_;
    double interval_ = 0.5;
    bool forming_ = false, newOnly_ = false;
    LevelFlags levels_;
    PointOptionFlags points_;
};

}  // namespace

std::unique_ptr<Command> makeWatchCommand() { return std::make_unique<Watch>(); }

}  // namespace vlmstruct
