#include "barfile/bar_columns.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace vlmstruct {

namespace {

struct Name {
    std::string_view text;
    Column role;
};

// Names as users' files carry them: charting software, spreadsheet and data
// vendor exports. Turnover (amount, 成交额) and codes are not volumes or dates
// and are listed so that they are never taken for one.
constexpr std::array kNames = {
    Name{"date", Column::Date},          Name{"trade_date", Column::Date},
    Name{"datetime", Column::Date},      Name{"timestamp", Column::Date},
    Name{"trade_time", Column::Date},    Name{"日期", Column::Date},
    Name{"交易日期", Column::Date},      Name{"时间", Column::Time},
    Name{"time", Column::Time},          Name{"dt", Column::Time},
    Name{"交易时间", Column::Time},      Name{"open", Column::Open},
    Name{"开盘", Column::Open},          Name{"开盘价", Column::Open},
    Name{"high", Column::High},          Name{"最高", Column::High},
    Name{"最高价", Column::High},        Name{"low", Column::Low},
    Name{"最低", Column::Low},           Name{"最低价", Column::Low},
    Name{"close", Column::Close},        Name{"收盘", Column::Close},
    Name{"收盘价", Column::Close},       Name{"volume", Column::Volume},
    Name{"vol", Column::Volume},         Name{"成交量", Column::Volume},
    Name{"amount", Column::Ignored},     Name{"turnover", Column::Ignored},
    Name{"成交额", Column::Ignored},     Name{"ts_code", Column::Ignored},
    Name{"symbol", Column::Ignored},     Name{"code", Column::Ignored},
    Name{"代码", Column::Ignored},       Name{"股票代码", Column::Ignored},
};

}  // namespace

Column columnOf(std::string_view name) {
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string_view::npos) return Column::Ignored;
    name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Name& n : kNames) {
        if (n.text == lower) return n.role;
    }
    return Column::Ignored;
}

const char* roleName(Column c) {
    switch (c) {
        case Column::Date: return "date";
        case Column::Time: return "time";
        case Column::Open: return "open";
        case Column::High: return "high";
        case Column::Low: return "low";
        case Column::Close: return "close";
        case Column::Volume: return "volume";
        case Column::Ignored: break;
    }
    return "";
}

std::string namesOf(Column role) {
    std::string out;
    for (const Name& n : kNames) {
        if (n.role == role) out += (out.empty() ? "" : ", ") + std::string(n.text);
    }
    return out;
}

std::string acceptedNames() {
    std::string out;
    for (std::size_t r = 0; r < kColumnRoles; ++r) {
        const auto role = static_cast<Column>(r);
        out += (out.empty() ? "" : "; ") + std::string(roleName(role)) + ": " + namesOf(role);
    }
    return out + " (any case)";
}

}  // namespace vlmstruct
