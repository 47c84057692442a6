// The general rules of reading a bar file, which every row may take; the
// fast paths included below only take rows they read as these rules do.
#include "barfile/bar_reader.h"

#include <algorithm>
#include <span>

#include "barfile/date_order.h"
#include "barfile/number_text.h"
#include "barfile/plain_row.h"
#include "barfile/price_checks.h"
#include "barfile/text_blanks.h"

namespace vlmstruct::reading {

namespace {

std::string headerList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "'" : ", '") + excerpt(n) + "'";
    return out.empty() ? "none" : out;
}

template <typename T>
void permute(std::vector<T>& values, const std::vector<std::size_t>& order) {
    std::vector<T> sorted;
    sorted.reserve(values.size());
    for (std::size_t k : order) sorted.push_back(values[k]);
    values = std::move(sorted);
}

}  // namespace

DateFault combineDate(std::string_view text, std::string_view timeText, DateTime& into) {
    const std::optional<DateTime> date = parseDateTime(text);
    if (!date) return DateFault::NotADate;
    into = *date;
    if (trimBlanks(timeText).empty()) return DateFault::None;
    // A time column may hold the whole timestamp; its day must then agree.
    if (const auto full = parseDateTime(timeText); full) {
        if (full->year != date->year || full->month != date->month || full->day != date->day) {
            return DateFault::OtherDay;
        }
        if (full->hasTime) into = *full;
        return DateFault::None;
    }
    if (!parseTimeOfDay(timeText, into)) return DateFault::NotATime;
    if (date->hasTime && (date->hour != into.hour || date->minute != into.minute || date->second != into.second)) {
        return DateFault::OtherTime;
    }
    return DateFault::None;
}

BarSeries Reader::read(TextWindow& window, ReadReport& report) {
    std::size_t pos = 0, line = 1;
    findDelimiter(window, pos, line);
    RecordSplitter splitter(delimiter_, name_);
    RecordView record;
    bool header = false;
    while (true) {
        if (plainRows_ && !failure_ && readPlainRow(window.text(), window.last(), pos, line)) {
            if (bars_.high.size() == kSampleRows) reserveFor(window.offset() + pos, window.expectedSize());
            continue;
        }
        const auto result = splitter.next(window.text(), pos, line, window.last(), record);
        if (result == RecordSplitter::Result::End) break;
        if (result == RecordSplitter::Result::NeedMore) {
            window.advance(pos);
            pos = 0;
            continue;
        }
        if (record.blank()) continue;
        // Once something is wrong the records are still split, for a
        // quoting error later in the file, which is reported first.
        if (failure_) continue;
        try {
            if (header) {
                readRow(record, window.text());
                if (bars_.high.size() == kSampleRows) reserveFor(window.offset() + pos, window.expectedSize());
            } else {
                header = true;
                readHeader(record);
                if (firstRowLine_ != 0) line = firstRowLine_;
            }
        } catch (const BarFileError& e) {
            failure_ = e.what();
        }
    }
    if (!header) throw BarFileError(name_ + ": the file is empty (no header row)");
    if (failure_) throw BarFileError(*failure_);
    if (bars_.high.empty() && !rowsOnly_) throw BarFileError(name_ + ": a header but no bars");
    return assemble(report);
}

// A first line `sep=X` (as spreadsheets write it) names the delimiter;
// otherwise the first line with more than delimiters and blanks decides.
// Lines before it are skipped.
void Reader::findDelimiter(TextWindow& window, std::size_t& pos, std::size_t& line) {
    std::string_view first;
    std::size_t next = 0;
    while (true) {
        const std::string_view text = window.text();
        if (pos >= text.size() && window.last()) {
            first = {};
            break;
        }
        const auto [end, after] = lineAt(text, pos);
        // The whole line and its line end (CR LF is one) must be in the window.
        if (!window.last() && (end == text.size() || (text[end] == '\r' && end + 1 == text.size()))) {
            window.advance(pos);
            pos = 0;
            continue;
        }
        first = text.substr(pos, end - pos);
        next = after;
        if (first.find_first_not_of(" \t,;") != std::string_view::npos) break;
        pos = next;
        ++line;
    }
    const std::string_view content = trimBlanks(first);
    if (content.size() == 5 && (content.substr(0, 4) == "sep=" || content.substr(0, 4) == "SEP=")) {
        delimiter_ = content[4] == ' ' ? kWhiteSpace : content[4];
        if (delimiter_ == '"') throw BarFileError(at(line) + ": a quote cannot be the delimiter");
        pos = next;
        ++line;
    } else {
        delimiter_ = delimiterOf(first);
    }
    for (const char c : {'\r', '\n', '"', delimiter_}) plainStops_[static_cast<unsigned char>(c)] = true;
}

void Reader::readHeader(const RecordView& header) {
    headerLine_ = header.line;
    lastLine_ = header.line;
    for (const FieldView& f : header.fields) names_.emplace_back(trimBlanks(f.text));
    // A trailing delimiter gives an unnamed last column.
    while (names_.size() > 1 && names_.back().empty()) names_.pop_back();
    columns_.fill(-1);
    for (std::size_t c = 0; c < names_.size(); ++c) {
        const Column role = columnOf(names_[c]);
        if (role != Column::Ignored && column(role) < 0) {
            columns_[static_cast<std::size_t>(role)] = static_cast<int>(c);
        }
    }
    // A lone time column holds the whole date and time.
    if (column(Column::Date) < 0) {
        std::swap(columns_[static_cast<std::size_t>(Column::Date)], columns_[static_cast<std::size_t>(Column::Time)]);
    }
    for (Column required : {Column::High, Column::Low}) {
        if (column(required) < 0) {
            throw BarFileError(at(headerLine_) + ": no '" + roleName(required) + "' column among the headers " +
                               headerList(names_) + " (columns are separated by " +
                               describeDelimiter(delimiter_) + "); the names read are " + acceptedNames());
        }
    }
    if (column(Column::Date) < 0 && !options_.allowNoDates) {
        throw BarFileError(at(headerLine_) + ": no date column among the headers " + headerList(names_) +
                           "; a date column is named one of: " + namesOf(Column::Date) + ", " +
                           namesOf(Column::Time) + " (any case). Without one the bars can only be taken in file order (--no-dates)");
    }
    for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
        if (column(kValueColumns[v]) >= 0) {
            std::vector<float>* const prices[] = {&bars_.open, &bars_.high, &bars_.low, &bars_.close};
            const bool stored = kValueColumns[v] == Column::Volume ? options_.keepOpenAndVolume && options_.keepVolume
                                : kValueColumns[v] == Column::Open ? options_.keepOpenAndVolume
                                                                   : true;
            Kept kept{v, static_cast<std::size_t>(column(kValueColumns[v]))};
            if (stored && v == kVolume) kept.volumes = &bars_.volume;
            if (stored && v != kVolume) kept.prices = prices[v];
            kept_[keptCount_++] = kept;
        }
    }
    // Blanks are part of white-space delimiters: such rows take the general path.
    plainRows_ = options_.plainRowShortcut && delimiter_ != kWhiteSpace;
}

void Reader::readRow(const RecordView& record, std::string_view text) {
    const std::vector<FieldView>& fields = record.fields;
    // Trailing delimiters add empty fields; they carry nothing.
    std::size_t count = fields.size();
    while (count > names_.size() && trimBlanks(fields[count - 1].text).empty()) --count;
    if (count != names_.size()) {
        std::string hint;
        if (count == 1 && fields[0].quoted && delimiter_ != kWhiteSpace &&
            fields[0].text.find(delimiter_) != std::string_view::npos) {
            hint = " (the whole row is one quoted field)";
        }
        throw BarFileError(at(record.line) + ": expected " + std::to_string(names_.size()) +
                           " fields separated by " + describeDelimiter(delimiter_) + " as in the header, found " +
                           std::to_string(count) + hint + " in '" +
                           excerpt(text.substr(record.begin, record.end - record.begin)) + "'");
    }
    RowValues values;
    DateTime date;
    if (column(Column::Date) >= 0) date = dateOf(record.line, fields);
    for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
        const int c = column(kValueColumns[v]);
        if (c < 0) continue;
        const std::string_view field = fields[static_cast<std::size_t>(c)].text;
        const char* what = nullptr;
        const Number status = values.at(v, [&](auto& value) {
            const Number read = parseNumber(field, v == kVolume, value);
            if (read == Number::Ok) what = valueProblem(value);
            return read;
        });
        if (status == Number::Ok && what == nullptr) continue;
        const std::string where = at(record.line, c) + ": column '" + excerpt(names_[static_cast<std::size_t>(c)]) + "' ";
        const std::string shown = "'" + excerpt(field) + "'";
        if (status == Number::Empty) throw BarFileError(where + "is empty");
        if (status == Number::NotANumber) throw BarFileError(where + "is not a number: " + shown);
        if (status == Number::OutOfRange) throw BarFileError(where + "is out of range: " + shown);
        throw BarFileError(where + "is " + what + ": " + shown);
    }
    if (const auto what = barProblem(values.price[1], values.price[2])) {
        const int c = column(Column::Low);
        throw BarFileError(at(record.line, c) + ": " + *what + ": '" +
                           excerpt(fields[static_cast<std::size_t>(c)].text) + "'");
    }
    keepRow(record.line, date, values);
}

void Reader::keepRow(std::size_t line, const DateTime& date, const RowValues& values) {
    // Most rows are one line after the one before; only the others are noted.
    const std::size_t row = bars_.high.size();
    if (line != lastLine_ + 1) unusualLines_.emplace_back(row, line);
    lastLine_ = line;
    if (column(Column::Date) >= 0) stamps_.emplace_back(date);
    for (std::size_t k = 0; k < keptCount_; ++k) {
        const Kept& kept = kept_[k];
        if (kept.prices != nullptr) kept.prices->push_back(values.price[kept.value]);
        if (kept.volumes != nullptr) kept.volumes->push_back(values.volume);
    }
}

DateTime Reader::dateOf(std::size_t line, const std::vector<FieldView>& fields) const {
    const int dc = column(Column::Date), tc = column(Column::Time);
    const std::string_view text = fields[static_cast<std::size_t>(dc)].text;
    const std::string_view timeText = tc < 0 ? std::string_view() : fields[static_cast<std::size_t>(tc)].text;
    DateTime date;
    switch (combineDate(text, timeText, date)) {
        case DateFault::None: return date;
        case DateFault::NotADate:
            throw BarFileError(at(line, dc) + ": not a valid date: '" + excerpt(text) + "'");
        case DateFault::OtherDay:
            throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' is on another day than '" +
                               excerpt(text) + "'");
        case DateFault::NotATime:
            throw BarFileError(at(line, tc) + ": not a time of day: '" + excerpt(timeText) + "'");
        case DateFault::OtherTime:
            throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' differs from the date's '" +
                               excerpt(text) + "'");
    }
    return date;
}

std::size_t Reader::lineOf(std::size_t row) const {
    // The last noted row at or before it, and one line a row since.
    auto after = std::upper_bound(unusualLines_.begin(), unusualLines_.end(), row,
                                  [](std::size_t r, const std::pair<std::size_t, std::size_t>& u) { return r < u.first; });
    if (after == unusualLines_.begin()) return headerLine_ + 1 + row;
    --after;
    return after->second + (row - after->first);
}

BarSeries Reader::assemble(ReadReport& report) {
    const bool dated = column(Column::Date) >= 0;
    report.headerLine = headerLine_;
    if (dated && rowsOnly_) {
        // Rows that follow others: their order is the caller's to judge.
        bars_.stamps = std::move(stamps_);
        bars_.stampSeconds = false;
        for (const DateStamp& s : bars_.stamps) bars_.stampSeconds = bars_.stampSeconds || s.hasSeconds();
    } else if (dated) {
        const DateOrder order = orderByDate(std::span<const DateStamp>(stamps_));
        if (order.duplicate) {
            const DateTime later = stamps_[order.duplicate->second].dateTime();
            throw BarFileError(at(lineOf(order.duplicate->second)) + ": duplicate date " +
                               later.text(later.hasTime) + " (also on line " +
                               std::to_string(lineOf(order.duplicate->first)) + ")");
        }
        if (!order.order.empty()) {
            permute(stamps_, order.order);
            for (auto* column : {&bars_.open, &bars_.high, &bars_.low, &bars_.close}) {
                if (!column->empty()) permute(*column, order.order);
            }
            if (!bars_.volume.empty()) permute(bars_.volume, order.order);
            report.reordered = true;
        }
        // Seconds are shown when any time gave them, so the times of one
        // file are all written alike.
        bool seconds = false;
        for (const DateStamp& s : stamps_) seconds = seconds || s.hasSeconds();
        if (options_.packedDates) {
            bars_.stamps = std::move(stamps_);
            bars_.stampSeconds = seconds;
        } else {
            bars_.dates.reserve(stamps_.size());
            std::string text;
            for (const DateStamp& s : stamps_) {
                text.clear();
                appendDateText(text, s.dateTime(), seconds);
                bars_.dates.push_back(text);
            }
            stamps_ = {};
        }
    }
    report.noDates = !dated;
    return std::move(bars_);
}

void Reader::reserveFor(std::size_t bytesSoFar, std::size_t bytes) {
    if (bytesSoFar == 0 || bytes <= bytesSoFar) return;
    const double perRow = static_cast<double>(bytesSoFar) / static_cast<double>(kSampleRows);
    const auto rows = static_cast<std::size_t>(static_cast<double>(bytes) / perRow * 1.1) + kSampleRows;
    for (auto* column : {&bars_.open, &bars_.high, &bars_.low, &bars_.close}) {
        if (!column->empty()) column->reserve(rows);
    }
    if (!bars_.volume.empty()) bars_.volume.reserve(rows);
    if (!stamps_.empty()) stamps_.reserve(rows);
}

}  // namespace vlmstruct::reading
