#include "replay_files.h"

#include <cmath>
#include <vector>

#include "output_files.h"

namespace vlmstruct {

namespace {

// Empty where there is nothing; bars and codes as integers, prices as the
// float they are.
std::string cell(double v, vlm::ColumnKind kind) {
    if (std::isnan(v)) return "";
    if (kind == vlm::ColumnKind::Price) return formatFloat(static_cast<float>(v));
    return std::to_string(static_cast<long long>(v));
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string names(std::span<const vlm::Column> columns) {
    std::string out;
    for (const vlm::Column& c : columns) out += "," + std::string(c.name);
    return out;
}

std::string cells(std::span<const double> values, std::span<const vlm::Column> columns) {
    std::string out;
    for (std::size_t k = 0; k < columns.size(); ++k) out += "," + cell(values[k], columns[k].kind);
    return out;
}

std::string dateOf(const BarSeries& bars, double bar) {
    if (bars.dates.empty() || std::isnan(bar)) return "";
    return bars.dates[static_cast<std::size_t>(bar)];
}

}  // namespace

vlm::ReplayLog replayBars(const BarSeries& bars) {
    return vlm::ReplaySeries(bars.high, bars.low, bars.close);
}

std::string asOfCsv(const BarSeries& bars, const vlm::ReplayLog& log) {
    const auto columns = vlm::AsOfColumns();
    std::string out = "date" + names(columns) + "\n";
    std::vector<double> values(columns.size());
    for (const vlm::AsOfRow& row : log.rows) {
        vlm::AsOfValues(row, values);
        out += dateOf(bars, row.bar) + cells(values, columns) + "\n";
    }
    return out;
}

std::string eventsCsv(const BarSeries& bars, const vlm::ReplayLog& log) {
    const auto columns = vlm::EventColumns();
    std::string out = "date,subject,event" + names(columns) + ",text\n";
    std::vector<double> values(columns.size());
    for (const vlm::ReplayEvent& e : log.events) {
        vlm::EventValues(e, values);
        out += dateOf(bars, e.bar) + "," + vlm::subjectName(e.subject) + "," + vlm::kindName(e.kind) +
               cells(values, columns) + "," + quoted(vlm::describe(e)) + "\n";
    }
    return out;
}

}  // namespace vlmstruct
