#include "analysis/scan.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "points/point_replay.h"
#include "stream/replay.h"

#include "barfile/float_text.h"
#include "faces/replay_text.h"

namespace vlmstruct {

ScanRow summarise(const std::string& file, const BarSeries& bars, const Latest& latest) {
    ScanRow row;
    row.file = file;
    row.bars = bars.size();
    if (bars.hasDates()) row.lastDate = bars.date(bars.size() - 1);
    if (latest.stroke) {
        row.strokeDirection = latest.stroke->direction;
        row.strokeBar = latest.stroke->bar;
    }
    if (latest.segment) {
        row.segmentDirection = latest.segment->direction;
        row.segmentBar = latest.segment->bar;
    }
    if (latest.pivot) {
        const vlm::Pivot& p = *latest.pivot;
        row.pivotUpper = p.upper;
        row.pivotLower = p.lower;
        row.pivotTrend = p.trend;
        row.pivotRunCount = latest.pivotRunCount;
        const float where = bars.close.empty() ? std::nanf("") : vlm::closeAgainst(bars.close.back(), p);
        row.closeVsPivot = std::isnan(where) ? "n/a" : where > 0 ? "above" : where < 0 ? "below" : "inside";
    }
    if (latest.point) {
        const vlm::TradingPoint& p = *latest.point;
        row.pointLabel = vlm::PointLabel(p);
        row.pointBar = p.bar;
        row.pointPrice = p.price;
        if (bars.hasDates()) row.pointDate = bars.date(static_cast<std::size_t>(p.bar));
        row.barsSincePoint = bars.size() - 1 - static_cast<std::size_t>(p.bar);
    }
    return row;
}

namespace {

namespace fs = std::filesystem;

bool isBarFile(const fs::directory_entry& entry) {
    if (!entry.is_regular_file()) return false;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".csv" || ext == ".txt" || ext == ".tsv";
}

fs::path comparable(const fs::path& p) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p) : c;
}

}  // namespace

BarFileList barFilesIn(const fs::path& folder, const ScanOptions& options) {
    BarFileList list;
    std::vector<fs::path> excluded;
    for (const fs::path& p : options.exclude) excluded.push_back(comparable(p));
    // A file that is no link is named in its folder's real path by its own
    // name, so only a link or a file named as an excluded one can be it:
    // the others are not resolved, which takes a system call per folder in
    // their path.
    auto isExcluded = [&](const fs::directory_entry& entry) {
        const fs::path name = entry.path().filename();
        const bool named = std::any_of(excluded.begin(), excluded.end(),
                                       [&](const fs::path& x) { return x.filename() == name; });
        if (!named && !entry.is_symlink()) return false;
        return std::find(excluded.begin(), excluded.end(), comparable(entry.path())) != excluded.end();
    };
    auto take = [&](const fs::directory_entry& entry) {
        if (!isBarFile(entry) || (!excluded.empty() && isExcluded(entry))) return;
        list.files.push_back(entry.path());
    };
    if (options.recursive) {
        // Links to folders are not followed, so a loop of links cannot trap the scan.
        for (const auto& entry : fs::recursive_directory_iterator(folder)) take(entry);
    } else {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_directory()) ++list.skippedFolders;
            take(entry);
        }
    }
    std::sort(list.files.begin(), list.files.end());
    return list;
}

ScanRow scanFile(const fs::path& file, const std::string& name, const ReadOptions& read,
                 const vlm::TradingPointOptions& points) {
    try {
        ReadOptions packed = read;
        packed.packedDates = true;
        packed.keepOpenAndVolume = false;  // the summary reads highs, lows and closes
        const BarSeries bars = readBarFile(file, nullptr, packed);
        return summarise(name, bars, analyseLatest(bars.high, bars.low, bars.close, points));
    } catch (const std::exception& e) {
        ScanRow row;
        row.file = name;
        row.error = e.what();
        return row;
    }
}

std::vector<ScanRow> scanFolder(const fs::path& folder, const ScanOptions& options) {
    return scanFiles(folder, barFilesIn(folder, options), options);
}

void runFileJobs(std::size_t count, unsigned jobs, bool progress,
                 const std::function<FileOutcome(std::size_t)>& work) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex printing;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    auto report = [&](const FileOutcome& outcome) {
        if (!progress) return;
        const std::size_t finished = ++done;
        std::lock_guard<std::mutex> lock(printing);
        if (terminal) {
            const int width = 30;
            const int filled = static_cast<int>(width * finished / std::max<std::size_t>(count, 1));
            std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                         std::string(static_cast<std::size_t>(width - filled), '.').c_str(), finished, count);
            if (finished == count) std::fprintf(stderr, "\n");
        } else {
            std::fprintf(stderr, "%zu/%zu %s%s\n", finished, count, outcome.name.c_str(),
                         outcome.failed ? " FAILED" : "");
        }
    };
    auto worker = [&] {
        for (std::size_t k = next++; k < count; k = next++) report(work(k));
    };
    jobs = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(std::max<std::size_t>(count, 1))));
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();
}

std::vector<ScanRow> scanFiles(const fs::path& folder, const BarFileList& list, const ScanOptions& options) {
    const std::vector<fs::path>& files = list.files;
    std::vector<ScanRow> rows(files.size());
    runFileJobs(files.size(), options.jobs, options.progress, [&](std::size_t k) {
        ScanRow& row = rows[k];
        row = scanFile(files[k], files[k].lexically_relative(folder).generic_string(), options.read, options.points);
        return FileOutcome{row.file, !row.error.empty()};
    });
    return rows;
}

namespace {
std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}
}  // namespace

std::string scanCsv(const std::vector<ScanRow>& rows) {
    std::string out =
        "file,bars,last_date,stroke_direction,stroke_bar,segment_direction,segment_bar,"
        "close_vs_pivot,pivot_upper,pivot_lower,pivot_trend,pivot_run_count,"
        "trading_point,point_bar,point_date,point_price,bars_since_point,error\n";
    for (const ScanRow& r : rows) {
        out += csvField(r.file) + ",";
        if (!r.error.empty()) {
            out += ",,,,,,,,,,,,,,,," + csvField(r.error) + "\n";
            continue;
        }
        out += std::to_string(r.bars) + "," + r.lastDate + "," + std::to_string(r.strokeDirection) + "," +
               std::to_string(r.strokeBar) + "," + std::to_string(r.segmentDirection) + "," +
               std::to_string(r.segmentBar) + "," + r.closeVsPivot + "," + formatFloat(r.pivotUpper) + "," +
               formatFloat(r.pivotLower) + "," + formatFloat(r.pivotTrend) + "," +
               formatFloat(r.pivotRunCount) + "," + r.pointLabel + ",";
        // A file without a point leaves its point cells empty.
        if (!r.pointLabel.empty()) {
            out += std::to_string(r.pointBar) + "," + r.pointDate + "," + formatFloat(r.pointPrice) + "," +
                   std::to_string(r.barsSincePoint);
        } else {
            out += ",,,";
        }
        out += ",\n";
    }
    return out;
}

}  // namespace vlmstruct
