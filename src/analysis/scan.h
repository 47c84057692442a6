#pragma once
// Every bar file of a folder, in parallel: one summary row per file.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace vlmstruct {

struct ScanRow {
    std::string file;
    std::string error;  // empty when the file was analysed
    std::size_t bars = 0;
    std::string lastDate;
    int strokeDirection = 0, strokeBar = -1;
    int segmentDirection = 0, segmentBar = -1;
    std::string closeVsPivot = "none";  // inside, above, below, none (no pivot), n/a (no close)
    float pivotUpper = 0, pivotLower = 0, pivotTrend = 0, pivotRunCount = 0;
    // The latest trading point (label empty without one) and the bars after it.
    std::string pointLabel, pointDate;
    int pointBar = -1;
    float pointPrice = 0;
    std::size_t barsSincePoint = 0;
};

ScanRow summarise(const std::string& file, const BarSeries& bars, const Latest& latest);

struct ScanOptions {
    unsigned jobs = 1;
    bool progress = true;   // a bar on a terminal, plain lines otherwise
    bool recursive = false;  // also the files of subfolders, named by their path from the folder
    ReadOptions read;
    std::vector<std::filesystem::path> exclude;  // e.g. the summary being written into the folder
    vlm::TradingPointOptions points;
};

struct BarFileList {
    std::vector<std::filesystem::path> files;  // sorted
    std::size_t skippedFolders = 0;            // subfolders not looked into (not recursive)
};

// One file read, analysed and summarised under `name`, or its error: the
// routine every scan runs per file, here or on a distributed worker.
ScanRow scanFile(const std::filesystem::path& file, const std::string& name, const ReadOptions& read,
                 const vlm::TradingPointOptions& points = {});

// The .csv, .txt and .tsv files of a folder (any case of the extension).
BarFileList barFilesIn(const std::filesystem::path& folder, const ScanOptions& options);
// What a file's job tells the progress line: its name and whether it failed.
struct FileOutcome {
    std::string name;
    bool failed = false;
};
// work(k) for every k below `count`, `jobs` at once, with a progress line
// per file when `progress` is set (a bar on a terminal, plain lines otherwise).
void runFileJobs(std::size_t count, unsigned jobs, bool progress,
                 const std::function<FileOutcome(std::size_t)>& work);

// Every file of `list`, named relative to `folder`.
std::vector<ScanRow> scanFiles(const std::filesystem::path& folder, const BarFileList& list,
                               const ScanOptions& options);
std::vector<ScanRow> scanFolder(const std::filesystem::path& folder, const ScanOptions& options);
std::string scanCsv(const std::vector<ScanRow>& rows);

}  // namespace vlmstruct
