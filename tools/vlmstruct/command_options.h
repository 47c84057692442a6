#pragma once
// What several commands share: the exit codes, loading a bar file with its
// warnings, the trading-point options, the levels' options, --no-dates.

#include <CLI/CLI.hpp>

#include <string>
#include <utility>
#include <vector>

#include "barfile/bar_file.h"
#include "levels/resample.h"
#include "points/trading_points.h"

namespace vlmstruct {

inline constexpr int kBadInput = 1;
inline constexpr int kUsage = 2;
inline constexpr const char* kExitStatus =
    "Exit status: 0 success, 1 bad input or a file that could not be read or written, 2 usage error.";
// Added to the help of an output that may be standard output.
inline constexpr const char* kStandardOutputHelp = " ('-' for standard output)";

// The bar file, with a warning for rows sorted or a file without dates.
BarSeries load(const std::string& path, const ReadOptions& options);

// The chart's title: the file's name.
std::string titleOf(const std::string& path);

// Each file named, one a line, but standard output and those not asked for.
void listWritten(const std::vector<std::string>& files);

// --no-dates.
void addNoDates(CLI::App* command, ReadOptions& read);

// The trading-point options every command that shows points takes.
struct PointOptionFlags {
    std::string macd, force, class1MinRun, divergenceRatio;
    std::vector<std::pair<CLI::Option*, std::string*>> given;

    void addTo(CLI::App* command);
    [[nodiscard]] bool anyGiven() const;
    // Only the options given on the command line; each is checked, naming it.
    [[nodiscard]] vlm::TradingPointOptions parse() const;
};

// --levels, and how the bars are binned into them (--bins, --session-gap).
struct LevelFlags {
    std::string list;
    std::string bins = "session";
    int sessionGap = 0;

    void addList(CLI::App* command, const char* help);
    void addBinning(CLI::App* command);
    [[nodiscard]] vlm::levels::ResampleOptions resample() const;
};

}  // namespace vlmstruct
