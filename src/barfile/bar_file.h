#pragma once
// Bar files as charting software, spreadsheets and data vendors export them:
// delimited text with a header of English or Chinese column names, in UTF-8
// (with or without BOM), UTF-16 (with BOM) or GBK.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "barfile/bar_file_error.h"
#include "barfile/date_stamp.h"

namespace vlmstruct {

struct BarSeries {
    std::vector<std::string> dates;  // "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"; empty without a date column
    // The dates packed, 8 bytes a bar instead of a string's 32 or more, when
    // the reader was asked for them so (ReadOptions::packedDates); `dates`
    // is then empty. Those with a time are written with seconds when
    // `stampSeconds` is set.
    std::vector<DateStamp> stamps;
    bool stampSeconds = false;
    std::vector<float> open, high, low, close;  // open/close empty when absent
    std::vector<double> volume;                 // empty when absent; doubles, so that sums are exact
    [[nodiscard]] std::size_t size() const { return high.size(); }
    [[nodiscard]] bool hasCandles() const { return !open.empty() && !close.empty(); }
    // Whichever way the dates are held.
    [[nodiscard]] bool hasDates() const { return !dates.empty() || !stamps.empty(); }
    void appendDate(std::string& out, std::size_t bar) const;
    [[nodiscard]] std::string date(std::size_t bar) const;  // "" without dates
};

struct ReadOptions {
    // A file without a date column is refused unless this is set: its bars
    // are then taken in file order.
    bool allowNoDates = false;
    // The dates in BarSeries::stamps rather than `dates`, for callers that
    // only write them out (a long series then takes far less memory).
    bool packedDates = false;
    // A regular file is read in pieces of this many bytes (at least 1), so
    // that memory stays small whatever its length; any size reads the same.
    std::size_t blockBytes = std::size_t{1} << 20;
    // Rows without quotes or blanks are read by a shortcut that gives what
    // the general rules give, and falls back to them for any row it is not
    // sure of. Off only to compare the two.
    bool plainRowShortcut = true;
    // Opens and volumes are read and checked as always, but kept only when
    // set: callers that use neither save their memory.
    bool keepOpenAndVolume = true;
    // The volumes kept only when this is set as well: callers that use the
    // opens but not the volumes save their memory.
    bool keepVolume = true;
};

struct ReadReport {
    bool reordered = false;  // rows were out of date order and have been sorted
    bool noDates = false;    // no date column: bars in file order
    std::string encoding;    // "UTF-8", "UTF-16LE", "UTF-16BE" or "GBK"
    std::size_t headerLine = 0;  // the line the header row is on
};

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report = nullptr,
                      const ReadOptions& options = {});

// The same, from text already in memory; `name` is used in messages.
BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report = nullptr,
                       const ReadOptions& options = {});

// Rows of a UTF-8 file as a feed appends them: `head` is the file's text up
// to the end of its header row's line (its byte-order mark, if any,
// included), `rows` whole lines that follow, the first of them line
// `firstLine` of the file; or `head` is empty and `rows` the file from its
// start. They are read by the rules of the whole file, messages naming
// `name` and the file's lines, and kept in file order (BarSeries::stamps, as
// with packedDates), never sorted: the caller judges their order. A header
// without rows gives no bars.
BarSeries parseBarRows(std::string_view head, std::string_view rows, std::size_t firstLine,
                       const std::string& name, const ReadOptions& options = {}, ReadReport* report = nullptr);

}  // namespace vlmstruct
