#pragma once
// Bar files as charting software exports them: delimited text with a header
// of English or Chinese column names, UTF-8 (with or without BOM) or GBK.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlmstruct {

struct BarSeries {
    std::vector<std::string> dates;  // "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"; empty without a date column
    std::vector<float> open, high, low, close, volume;  // open/close/volume empty when absent
    [[nodiscard]] std::size_t size() const { return high.size(); }
    [[nodiscard]] bool hasCandles() const { return !open.empty() && !close.empty(); }
};

// Names the file, the line, the column and the offending text.
class BarFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ReadReport {
    bool reordered = false;  // rows were out of date order and have been sorted
    std::string encoding;    // "UTF-8" or "GBK"
};

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report = nullptr);

// The same, from text already in memory; `name` is used in messages.
BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report = nullptr);

// Normalises a date with an optional time; nullopt when it is not one.
std::optional<std::string> normaliseDate(const std::string& text);

}  // namespace vlmstruct
