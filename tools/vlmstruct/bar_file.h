#pragma once
// Bar files as charting software, spreadsheets and data vendors export them:
// delimited text with a header of English or Chinese column names, in UTF-8
// (with or without BOM), UTF-16 (with BOM) or GBK.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bar_checks.h"
#include "delimited_text.h"

namespace vlmstruct {

struct BarSeries {
    std::vector<std::string> dates;  // "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"; empty without a date column
    std::vector<float> open, high, low, close, volume;  // open/close/volume empty when absent
    [[nodiscard]] std::size_t size() const { return high.size(); }
    [[nodiscard]] bool hasCandles() const { return !open.empty() && !close.empty(); }
};

struct ReadOptions {
    // A file without a date column is refused unless this is set: its bars
    // are then taken in file order.
    bool allowNoDates = false;
};

struct ReadReport {
    bool reordered = false;  // rows were out of date order and have been sorted
    bool noDates = false;    // no date column: bars in file order
    std::string encoding;    // "UTF-8", "UTF-16LE", "UTF-16BE" or "GBK"
};

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report = nullptr,
                      const ReadOptions& options = {});

// The same, from text already in memory; `name` is used in messages.
BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report = nullptr,
                       const ReadOptions& options = {});

}  // namespace vlmstruct
