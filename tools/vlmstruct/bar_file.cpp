#include "bar_file.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>

namespace vlmstruct {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// 1,234,567 or 1,234.5: groups of three digits after the first.
bool thousandsGrouped(std::string_view s) {
    if (!s.empty() && s[0] == '-') s.remove_prefix(1);
    const auto point = s.find('.');
    std::string_view whole = s.substr(0, point);
    const auto first = whole.find(',');
    if (first == std::string_view::npos || first == 0 || first > 3) return false;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const bool separatorHere = i >= first && (i - first) % 4 == 0;
        if (separatorHere ? whole[i] != ',' : (whole[i] < '0' || whole[i] > '9')) return false;
    }
    return (whole.size() - first) % 4 == 0;
}

enum class Number { Ok, Empty, NotANumber, OutOfRange };

// Any number from_chars reads in the general format, rounded once to the
// nearest float; one too small for a float is 0, one too large is infinite
// (and refused as such by the price rules).
Number parseNumber(std::string_view text, bool thousands, float& value) {
    text = trimmed(text);
    if (text.empty()) return Number::Empty;
    std::string plain;
    if (thousands && thousandsGrouped(text)) {
        for (char c : text) {
            if (c != ',') plain += c;
        }
        text = plain;
    }
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (end != last || ec == std::errc::invalid_argument) return Number::NotANumber;
    if (ec == std::errc::result_out_of_range) {
        double wide = 0;
        const auto [wideEnd, wideEc] = std::from_chars(text.data(), last, wide);
        if (wideEnd != last || wideEc != std::errc()) return Number::OutOfRange;
        value = static_cast<float>(wide);
        if (value == 0.0f) value = 0.0f;  // no negative zero from an underflow
    }
    return Number::Ok;
}

struct Row {
    std::string key;
    DateTime date;
    std::array<float, 5> values;  // open, high, low, close, volume
    std::size_t line;
};

constexpr std::array<Column, 5> kValueColumns = {Column::Open, Column::High, Column::Low, Column::Close,
                                                 Column::Volume};

std::string headerList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "'" : ", '") + excerpt(n) + "'";
    return out.empty() ? "none" : out;
}

class Reader {
public:
    Reader(std::string_view text, const std::string& name, const ReadOptions& options)
        : text_(text), name_(name), options_(options) {}

    BarSeries read(ReadReport& report) {
        const std::vector<Record> records = findRecords();
        auto header = records.begin();
        while (header != records.end() && header->blank()) ++header;
        if (header == records.end()) throw BarFileError(name_ + ": the file is empty (no header row)");
        readHeader(*header);

        std::vector<Row> rows;
        for (auto r = header + 1; r != records.end(); ++r) {
            if (!r->blank()) rows.push_back(readRow(*r));
        }
        if (rows.empty()) throw BarFileError(name_ + ": a header but no bars");
        return assemble(std::move(rows), report);
    }

private:
    std::string at(std::size_t line) const { return name_ + ":" + std::to_string(line); }
    std::string at(std::size_t line, int column) const {
        return at(line) + ":" + std::to_string(column + 1);
    }
    int column(Column c) const { return columns_[static_cast<std::size_t>(c)]; }

    // A first line `sep=X` (as spreadsheets write it) names the delimiter;
    // otherwise the header line decides.
    std::vector<Record> findRecords() {
        std::size_t pos = 0, line = 1;
        std::string_view first;
        while (pos < text_.size()) {
            const auto [end, next] = lineAt(text_, pos);
            first = text_.substr(pos, end - pos);
            if (first.find_first_not_of(" \t,;") != std::string_view::npos) break;
            pos = next;
            ++line;
            first = {};
        }
        const std::string_view content = trimmed(first);
        if (content.size() == 5 && (content.substr(0, 4) == "sep=" || content.substr(0, 4) == "SEP=")) {
            delimiter_ = content[4] == ' ' ? kWhiteSpace : content[4];
            if (delimiter_ == '"') throw BarFileError(at(line) + ": a quote cannot be the delimiter");
            pos = lineAt(text_, pos).second;
            ++line;
        } else {
            delimiter_ = delimiterOf(first);
        }
        return splitRecords(text_, pos, line, delimiter_, name_);
    }

    void readHeader(const Record& header) {
        headerLine_ = header.line;
        for (const Field& f : header.fields) names_.emplace_back(trimmed(f.text));
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
    }

    Row readRow(const Record& record) {
        std::vector<Field> fields = record.fields;
        // Trailing delimiters add empty fields; they carry nothing.
        while (fields.size() > names_.size() && trimmed(fields.back().text).empty()) {
            fields.pop_back();
        }
        if (fields.size() != names_.size()) {
            std::string hint;
            if (fields.size() == 1 && fields[0].quoted && delimiter_ != kWhiteSpace &&
                fields[0].text.find(delimiter_) != std::string::npos) {
                hint = " (the whole row is one quoted field)";
            }
            throw BarFileError(at(record.line) + ": expected " + std::to_string(names_.size()) +
                               " fields separated by " + describeDelimiter(delimiter_) + " as in the header, found " +
                               std::to_string(fields.size()) + hint + " in '" +
                               excerpt(text_.substr(record.begin, record.end - record.begin)) + "'");
        }
        Row row{{}, {}, {0, 0, 0, 0, 0}, record.line};
        if (column(Column::Date) >= 0) row.date = dateOf(record.line, fields);
        row.key = row.date.key();
        for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
            const int c = column(kValueColumns[v]);
            if (c < 0) continue;
            const Field& field = fields[static_cast<std::size_t>(c)];
            const std::string where = at(record.line, c) + ": column '" + excerpt(names_[static_cast<std::size_t>(c)]) + "' ";
            const Number status = parseNumber(field.text, kValueColumns[v] == Column::Volume, row.values[v]);
            const std::string shown = "'" + excerpt(field.text) + "'";
            if (status == Number::Empty) throw BarFileError(where + "is empty");
            if (status == Number::NotANumber) throw BarFileError(where + "is not a number: " + shown);
            if (status == Number::OutOfRange) throw BarFileError(where + "is out of range: " + shown);
            if (const char* what = valueProblem(row.values[v])) throw BarFileError(where + "is " + what + ": " + shown);
        }
        if (const auto what = barProblem(row.values[1], row.values[2])) {
            const int c = column(Column::Low);
            throw BarFileError(at(record.line, c) + ": " + *what + ": '" +
                               excerpt(fields[static_cast<std::size_t>(c)].text) + "'");
        }
        return row;
    }

    DateTime dateOf(std::size_t line, const std::vector<Field>& fields) const {
        const int dc = column(Column::Date), tc = column(Column::Time);
        const std::string& text = fields[static_cast<std::size_t>(dc)].text;
        std::optional<DateTime> date = parseDateTime(text);
        if (!date) throw BarFileError(at(line, dc) + ": not a valid date: '" + excerpt(text) + "'");
        if (tc < 0) return *date;
        const std::string& timeText = fields[static_cast<std::size_t>(tc)].text;
        if (trimmed(timeText).empty()) return *date;
        // A time column may hold the whole timestamp; its day must then agree.
        if (const auto full = parseDateTime(timeText); full) {
            if (full->dayText() != date->dayText()) {
                throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' is on another day than '" +
                                   excerpt(text) + "'");
            }
            if (!full->hasTime) return *date;
            date = full;
            return *date;
        }
        DateTime withTime = *date;
        if (!parseTimeOfDay(timeText, withTime)) {
            throw BarFileError(at(line, tc) + ": not a time of day: '" + excerpt(timeText) + "'");
        }
        if (date->hasTime && date->key() != withTime.key()) {
            throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' differs from the date's '" +
                               excerpt(text) + "'");
        }
        return withTime;
    }

    BarSeries assemble(std::vector<Row> rows, ReadReport& report) const {
        const bool dated = column(Column::Date) >= 0;
        if (dated) {
            std::vector<std::string_view> keys;
            keys.reserve(rows.size());
            for (const Row& r : rows) keys.emplace_back(r.key);
            const DateOrder order = orderByDate(std::span<const std::string_view>(keys));
            if (order.duplicate) {
                const Row& earlier = rows[order.duplicate->first];
                const Row& later = rows[order.duplicate->second];
                throw BarFileError(at(later.line) + ": duplicate date " + later.date.text(later.date.hasTime) +
                                   " (also on line " + std::to_string(earlier.line) + ")");
            }
            if (!order.order.empty()) {
                std::vector<Row> sorted;
                sorted.reserve(rows.size());
                for (std::size_t k : order.order) sorted.push_back(std::move(rows[k]));
                rows = std::move(sorted);
                report.reordered = true;
            }
        }
        // Seconds are shown when any time gave them, so the times of one
        // file are all written alike.
        bool seconds = false;
        for (const Row& r : rows) seconds = seconds || r.date.hasSeconds;

        BarSeries bars;
        const bool hasOpen = column(Column::Open) >= 0, hasClose = column(Column::Close) >= 0,
                   hasVolume = column(Column::Volume) >= 0;
        for (const Row& row : rows) {
            if (dated) bars.dates.push_back(row.date.text(seconds));
            if (hasOpen) bars.open.push_back(row.values[0]);
            bars.high.push_back(row.values[1]);
            bars.low.push_back(row.values[2]);
            if (hasClose) bars.close.push_back(row.values[3]);
            if (hasVolume) bars.volume.push_back(row.values[4]);
        }
        report.noDates = !dated;
        return bars;
    }

    std::string_view text_;
    const std::string& name_;
    const ReadOptions& options_;
    char delimiter_ = ',';
    std::size_t headerLine_ = 0;
    std::vector<std::string> names_;
    std::array<int, kColumnRoles> columns_{};
};

}  // namespace

BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report, const ReadOptions& options) {
    const DecodedText decoded = decodeText(std::move(bytes), name);
    ReadReport mine;
    mine.encoding = decoded.encoding;
    BarSeries bars = Reader(decoded.utf8, name, options).read(mine);
    if (report != nullptr) *report = mine;
    return bars;
}

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report, const ReadOptions& options) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw BarFileError(path.string() + ": a folder, not a bar file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BarFileError(path.string() + ": cannot open the file");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw BarFileError(path.string() + ": cannot read the file");
    return parseBarText(std::move(bytes), path.string(), report, options);
}

}  // namespace vlmstruct
