#include "command_options.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>

#include "barfile/output_files.h"
#include "point_options.h"

namespace vlmstruct {

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

void listWritten(const std::vector<std::string>& files) {
    for (const std::string& f : files) {
        if (!f.empty() && !isStandardOutput(f)) std::cout << f << "\n";
    }
}

void addNoDates(CLI::App* command, ReadOptions& read) {
    command->add_flag("--no-dates", read.allowNoDates,
                      "Accept a file without a date column: its bars are taken in file order");
}

void PointOptionFlags::addTo(CLI::App* command) {
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

bool PointOptionFlags::anyGiven() const {
    return std::any_of(given.begin(), given.end(), [](const auto& g) { return g.first->count() > 0; });
}

vlm::TradingPointOptions PointOptionFlags::parse() const {
    PointOptionText text;
    std::optional<std::string>* slots[] = {&text.macd, &text.force, &text.class1MinRun, &text.divergenceRatio};
    for (std::size_t k = 0; k < given.size(); ++k) {
        if (given[k].first->count() > 0) *slots[k % 4] = *given[k].second;
    }
    return parsePointOptions(text);
}

void LevelFlags::addList(CLI::App* command, const char* help) { command->add_option("--levels", list, help); }

void LevelFlags::addBinning(CLI::App* command) {
    command->add_option("--bins", bins,
                        "Intraday bins counted from each session's first bar (session) or at clock "
                        "multiples from midnight (clock)")
        ->check(CLI::IsMember({"session", "clock"}));
    command->add_option("--session-gap", sessionGap,
                        "Minutes of no bars that start a new session (default: twice the bar interval, "
                        "at least the interval plus 15 minutes)")
        ->check(CLI::Range(1L, vlm::levels::kMaxSessionGapMinutes));
}

vlm::levels::ResampleOptions LevelFlags::resample() const {
    return {bins == "clock" ? vlm::levels::Bins::Clock : vlm::levels::Bins::Session,
            static_cast<vlm::levels::Seconds>(sessionGap) * 60};
}

}  // namespace vlmstruct
