#pragma once
// One pass of reading a bar file's text into bars, internal to the bar-file
// library: the general rules in bar_reader.cpp, and beside them the fast
// paths that must agree with them, the plain-row shortcut (plain_row.h), its
// SSE2 splitter (plain_line_sse2.h) and the short-number readers
// (short_numbers.h).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "barfile/bar_columns.h"
#include "barfile/bar_file.h"
#include "barfile/date_stamp.h"
#include "barfile/dates.h"
#include "barfile/record_splitter.h"
#include "barfile/text_window.h"

namespace vlmstruct::reading {

enum class DateFault { None, NotADate, OtherDay, NotATime, OtherTime };

// A row's date from its date column and, when there is one, its time
// column (`timeText` empty otherwise).
DateFault combineDate(std::string_view text, std::string_view timeText, DateTime& into);

inline constexpr std::array<Column, 5> kValueColumns = {Column::Open, Column::High, Column::Low, Column::Close,
                                                        Column::Volume};
inline constexpr std::size_t kVolume = 4;  // its place in kValueColumns

// A row's numbers: the prices as floats, the volume as a double, so that
// sums of volumes are exact.
struct RowValues {
    std::array<float, 4> price{};  // open, high, low, close
    double volume = 0.0;

    // Calls f with the value of kValueColumns[v].
    template <typename F>
    [[gnu::always_inline]] decltype(auto) at(std::size_t v, F&& f) {
        return v == kVolume ? f(volume) : f(price[v]);
    }
};

class Reader {
public:
    Reader(const std::string& name, const ReadOptions& options) : name_(name), options_(options) {}
    // Reads rows as a feed appends them (parseBarRows): kept in file order,
    // none of them needed; the rows after the header numbered from
    // `firstRowLine` when it is not 0.
    Reader(const std::string& name, const ReadOptions& options, std::size_t firstRowLine)
        : name_(name), options_(options), rowsOnly_(true), firstRowLine_(firstRowLine) {}
    // kept_ points into bars_.
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // One pass over the text. Quoting errors anywhere come first; then an
    // empty file, a bad header, the first bad row, and a header without
    // rows, in that order; then the dates' order.
    BarSeries read(TextWindow& window, ReadReport& report);

private:
    // The general rules (bar_reader.cpp).
    std::string at(std::size_t line) const { return name_ + ":" + std::to_string(line); }
    std::string at(std::size_t line, int column) const { return at(line) + ":" + std::to_string(column + 1); }
    int column(Column c) const { return columns_[static_cast<std::size_t>(c)]; }
    // What the splitter trims from an unquoted field.
    bool blank(char c) const { return c == ' ' || (c == '\t' && delimiter_ != '\t'); }
    void findDelimiter(TextWindow& window, std::size_t& pos, std::size_t& line);
    void readHeader(const RecordView& header);
    void readRow(const RecordView& record, std::string_view text);
    // A row read and found good, by either path.
    void keepRow(std::size_t line, const DateTime& date, const RowValues& values);
    DateTime dateOf(std::size_t line, const std::vector<FieldView>& fields) const;
    // The line a row (in file order) started on.
    std::size_t lineOf(std::size_t row) const;
    BarSeries assemble(ReadReport& report);
    // Room for the rows still to come, from the length of the first ones, so
    // that the columns are not moved as they grow (room not written to takes
    // no memory).
    static constexpr std::size_t kSampleRows = 1024;
    void reserveFor(std::size_t bytesSoFar, std::size_t bytes);

    // The plain-row shortcut (plain_row.h, plain_line_sse2.h).
    bool readPlainRow(std::string_view text, bool last, std::size_t& pos, std::size_t& line);
    const char* splitPlainLine(const char* p, const char* end, std::size_t& count, bool& empty);
    const char* nextPlainStop(const char* p, const char* end) const;

    const std::string& name_;
    const ReadOptions& options_;
    bool rowsOnly_ = false;
    std::size_t firstRowLine_ = 0;
    char delimiter_ = ',';
    bool plainRows_ = false;
    std::array<bool, 256> plainStops_{};  // the characters that end a field of a plain row, or the row
    std::array<std::string_view, 32> plainFields_{};
    std::size_t headerLine_ = 0, lastLine_ = 0;
    std::vector<std::string> names_;
    std::array<int, kColumnRoles> columns_{};
    // The value columns the file has: where in values, which field, and the column of bars_.
    struct Kept {
        std::size_t value = 0, field = 0;
        std::vector<float>* prices = nullptr;    // a price column kept
        std::vector<double>* volumes = nullptr;  // the volume column kept
        [[nodiscard]] bool stored() const { return prices != nullptr || volumes != nullptr; }
    };
    std::array<Kept, 5> kept_{};
    std::size_t keptCount_ = 0;
    std::optional<std::string> failure_;
    BarSeries bars_;
    std::vector<DateStamp> stamps_;
    std::vector<std::pair<std::size_t, std::size_t>> unusualLines_;  // (row, line), rows ascending
};

}  // namespace vlmstruct::reading
