#pragma once
// The trading points' evaluation of bar files: one file, or every file of a
// folder in parallel, each evaluated on its own and the statistics pooled;
// and the files `evaluate` writes (signals and summary CSV, JSON).

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analysis/scan.h"
#include "barfile/bar_file.h"
#include "barfile/text_sink.h"
#include "points/evaluation.h"

namespace vlmstruct {

struct EvaluatedFile {
    std::string name;
    std::string error;  // empty when the file was evaluated
    BarSeries bars;     // dates always; prices only when kept (the report's chart)
    vlm::FileEvaluation evaluation;
};

// One series evaluated; the routine every face runs per file.
vlm::FileEvaluation evaluateBars(const BarSeries& bars, const vlm::EvaluationOptions& options);

// One file read and evaluated under `name`, or its error. `keepPrices`
// keeps the bars' prices for the report's chart.
EvaluatedFile evaluateFile(const std::filesystem::path& file, const std::string& name, const ReadOptions& read,
                           const vlm::EvaluationOptions& options, bool keepPrices = false);

// Every file of `list`, named relative to `folder`, `jobs` at once.
std::vector<EvaluatedFile> evaluateFiles(const std::filesystem::path& folder, const BarFileList& list,
                                         const ScanOptions& scan, const vlm::EvaluationOptions& options);

// The statistics of every evaluated file's signals pooled.
vlm::Summary summariseFiles(const std::vector<EvaluatedFile>& files);

// The statistics after mode, class, horizon and n, in the summary's column
// order, and a row's values in that order.
inline constexpr std::array<const char*, 11> kStatisticsColumns = {
    "mean", "median", "std", "t", "win_rate", "win_low", "win_high", "mfe", "mae", "baseline", "edge"};
std::array<double, kStatisticsColumns.size()> statisticsValues(const vlm::StatisticsRow& row);

// "live", "hindsight".
const char* modeName(vlm::SignalMode mode);

// One row per signal: file, mode, class, side, point_bar, point_date,
// signal_bar, signal_date, entry_bar, entry_price, withdrawn_bar, final,
// delay, then ret_H, mfe_H, mae_H for each horizon H; empty where there is none.
void writeSignalsCsv(TextSink& out, const std::vector<EvaluatedFile>& files, const std::vector<int>& horizons);
// One row per mode, class and horizon.
void writeSummaryCsv(TextSink& out, const vlm::Summary& summary);
// Everything: the files (with their errors and equity statistics), the
// statistics, the survival table and, when `signals`, every signal. `report`
// adds what the report draws (returns per class, equity curves and, for a
// single file, its bars and live signals) and leaves out the signal rows.
void writeEvaluationJson(TextSink& out, const std::vector<EvaluatedFile>& files, const vlm::Summary& summary,
                         const vlm::EvaluationOptions& options, const std::string& title, bool report);

}  // namespace vlmstruct
