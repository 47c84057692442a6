#include "bar_file.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <sstream>

namespace vlmstruct {

namespace {

enum class Column { Date, Time, Open, High, Low, Close, Volume, Ignored };

Column columnOf(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::map<std::string, Column> known = {
        {"date", Column::Date},     {"datetime", Column::Date}, {"日期", Column::Date},
        {"time", Column::Time},     {"时间", Column::Time},     {"open", Column::Open},
        {"开盘", Column::Open},     {"high", Column::High},     {"最高", Column::High},
        {"low", Column::Low},       {"最低", Column::Low},      {"close", Column::Close},
        {"收盘", Column::Close},    {"volume", Column::Volume}, {"vol", Column::Volume},
        {"成交量", Column::Volume},
    };
    const auto it = known.find(name);
    return it == known.end() ? Column::Ignored : it->second;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\"");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\"");
    return s.substr(first, last - first + 1);
}

bool validUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c >> 5) == 0x6) {
            extra = 1;
        } else if ((c >> 4) == 0xE) {
            extra = 2;
        } else if ((c >> 3) == 0x1E) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= s.size() + (extra == 0 ? 1 : 0)) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string gbkToUtf8(const std::string& in, const std::string& name) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw BarFileError(name + ": cannot decode GBK here");
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) {
        throw BarFileError(name + ": neither UTF-8 nor GBK text (byte " +
                           std::to_string(in.size() - srcLeft + 1) + ")");
    }
    out.resize(out.size() - dstLeft);
    return out;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The header decides the delimiter: the most frequent of comma, tab and
// semicolon, else runs of white space.
char delimiterOf(const std::string& header) {
    char best = ' ';
    std::ptrdiff_t most = 0;
    for (char d : {',', '\t', ';'}) {
        const auto n = std::count(header.begin(), header.end(), d);
        if (n > most) {
            most = n;
            best = d;
        }
    }
    return best;
}

std::vector<std::string> splitFields(const std::string& line, char delimiter) {
    std::vector<std::string> fields;
    if (delimiter == ' ') {
        std::istringstream in(line);
        std::string f;
        while (in >> f) fields.push_back(f);
        return fields;
    }
    std::string field;
    for (char c : line) {
        if (c == delimiter) {
            fields.push_back(trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(trim(field));
    return fields;
}

std::string describeDelimiter(char d) {
    return d == ',' ? "commas" : d == '\t' ? "tabs" : d == ';' ? "semicolons" : "white space";
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::optional<std::string> normaliseDate(const std::string& text) {
    std::string s = trim(text);
    std::string day = s;
    std::string time;
    const auto cut = s.find_first_of(" T");
    if (cut != std::string::npos) {
        day = s.substr(0, cut);
        time = trim(s.substr(cut + 1));
    }
    std::string y, m, d;
    if (allDigits(day) && day.size() == 8) {
        y = day.substr(0, 4);
        m = day.substr(4, 2);
        d = day.substr(6, 2);
    } else {
        const char sep = day.find('-') != std::string::npos ? '-' : '/';
        const auto a = day.find(sep);
        const auto b = a == std::string::npos ? a : day.find(sep, a + 1);
        if (b == std::string::npos) return std::nullopt;
        y = day.substr(0, a);
        m = day.substr(a + 1, b - a - 1);
        d = day.substr(b + 1);
        if (m.size() == 1) m = "0" + m;
        if (d.size() == 1) d = "0" + d;
    }
    if (y.size() != 4 || m.size() != 2 || d.size() != 2 || !allDigits(y) || !allDigits(m) ||
        !allDigits(d)) {
        return std::nullopt;
    }
    const int month = std::stoi(m);
    const int dayOfMonth = std::stoi(d);
    if (month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31) return std::nullopt;
    std::string result = y + "-" + m + "-" + d;
    if (!time.empty()) {
        // HH:MM or HH:MM:SS
        const bool shape = (time.size() == 5 || time.size() == 8) && time[2] == ':' &&
                           (time.size() == 5 || time[5] == ':');
        if (!shape) return std::nullopt;
        for (std::size_t i = 0; i < time.size(); ++i) {
            if (i % 3 != 2 && !std::isdigit(static_cast<unsigned char>(time[i]))) return std::nullopt;
        }
        if (std::stoi(time.substr(0, 2)) > 23 || std::stoi(time.substr(3, 2)) > 59) return std::nullopt;
        result += " " + time;
    }
    return result;
}

BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report) {
    std::string encoding = "UTF-8";
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        bytes.erase(0, 3);
    } else if (!validUtf8(bytes)) {
        bytes = gbkToUtf8(bytes, name);
        encoding = "GBK";
    }
    const std::vector<std::string> lines = splitLines(bytes);
    std::size_t headerLine = 0;
    while (headerLine < lines.size() && trim(lines[headerLine]).empty()) ++headerLine;
    if (headerLine == lines.size()) throw BarFileError(name + ": the file is empty (no header row)");

    const char delimiter = delimiterOf(lines[headerLine]);
    const std::vector<std::string> header = splitFields(lines[headerLine], delimiter);
    std::array<int, 7> at{};
    at.fill(-1);
    for (std::size_t c = 0; c < header.size(); ++c) {
        const Column col = columnOf(trim(header[c]));
        if (col != Column::Ignored && at[static_cast<std::size_t>(col)] < 0) {
            at[static_cast<std::size_t>(col)] = static_cast<int>(c);
        }
    }
    // A lone time column holds the whole date and time.
    if (at[static_cast<std::size_t>(Column::Date)] < 0) {
        std::swap(at[static_cast<std::size_t>(Column::Date)], at[static_cast<std::size_t>(Column::Time)]);
    }
    for (Column required : {Column::High, Column::Low}) {
        if (at[static_cast<std::size_t>(required)] < 0) {
            throw BarFileError(name + ":" + std::to_string(headerLine + 1) + ": no '" +
                               (required == Column::High ? "high" : "low") +
                               "' column in the header '" + lines[headerLine] + "'");
        }
    }
    auto column = [&](Column c) { return at[static_cast<std::size_t>(c)]; };

    struct Row {
        std::string date;
        std::array<float, 5> values;  // open, high, low, close, volume
        std::size_t line;
    };
    std::vector<Row> rows;
    for (std::size_t l = headerLine + 1; l < lines.size(); ++l) {
        if (trim(lines[l]).empty()) continue;
        const std::string where = name + ":" + std::to_string(l + 1);
        const std::vector<std::string> fields = splitFields(lines[l], delimiter);
        if (fields.size() != header.size()) {
            throw BarFileError(where + ": expected " + std::to_string(header.size()) +
                               " fields separated by " + describeDelimiter(delimiter) +
                               " as in the header, found " + std::to_string(fields.size()) +
                               " in '" + lines[l] + "'");
        }
        Row row{{}, {0, 0, 0, 0, 0}, l + 1};
        if (column(Column::Date) >= 0) {
            std::string text = fields[static_cast<std::size_t>(column(Column::Date))];
            if (column(Column::Time) >= 0) text += " " + fields[static_cast<std::size_t>(column(Column::Time))];
            const auto date = normaliseDate(text);
            if (!date) {
                throw BarFileError(where + ":" + std::to_string(column(Column::Date) + 1) +
                                   ": not a date: '" + text + "'");
            }
            row.date = *date;
        }
        const Column priced[] = {Column::Open, Column::High, Column::Low, Column::Close, Column::Volume};
        for (std::size_t v = 0; v < 5; ++v) {
            const int c = column(priced[v]);
            if (c < 0) continue;
            const std::string& text = fields[static_cast<std::size_t>(c)];
            float value = 0.0f;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
                throw BarFileError(where + ":" + std::to_string(c + 1) + ": column '" +
                                   header[static_cast<std::size_t>(c)] + "' is not a number: '" +
                                   text + "'");
            }
            row.values[v] = value;
        }
        rows.push_back(std::move(row));
    }
    if (rows.empty()) throw BarFileError(name + ": a header but no bars");

    bool reordered = false;
    if (column(Column::Date) >= 0) {
        if (!std::is_sorted(rows.begin(), rows.end(),
                            [](const Row& a, const Row& b) { return a.date < b.date; })) {
            std::stable_sort(rows.begin(), rows.end(),
                             [](const Row& a, const Row& b) { return a.date < b.date; });
            reordered = true;
        }
        for (std::size_t r = 1; r < rows.size(); ++r) {
            if (rows[r].date == rows[r - 1].date) {
                throw BarFileError(name + ":" + std::to_string(rows[r].line) + ": duplicate date " +
                                   rows[r].date + " (also on line " +
                                   std::to_string(rows[r - 1].line) + ")");
            }
        }
    }

    BarSeries bars;
    const bool hasOpen = column(Column::Open) >= 0, hasClose = column(Column::Close) >= 0,
               hasVolume = column(Column::Volume) >= 0;
    for (const Row& row : rows) {
        if (column(Column::Date) >= 0) bars.dates.push_back(row.date);
        if (hasOpen) bars.open.push_back(row.values[0]);
        bars.high.push_back(row.values[1]);
        bars.low.push_back(row.values[2]);
        if (hasClose) bars.close.push_back(row.values[3]);
        if (hasVolume) bars.volume.push_back(row.values[4]);
    }
    if (report != nullptr) {
        report->reordered = reordered;
        report->encoding = encoding;
    }
    return bars;
}

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BarFileError(path.string() + ": cannot open the file");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseBarText(std::move(bytes), path.string(), report);
}

}  // namespace vlmstruct
