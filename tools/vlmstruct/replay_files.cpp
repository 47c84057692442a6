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

vlm::PointReplayLog replayBars(const BarSeries& bars, const vlm::TradingPointOptions& points) {
    return vlm::ReplayWithPoints(bars.high, bars.low, bars.close, points);
}

std::string asOfCsv(const BarSeries& bars, const vlm::PointReplayLog& log) {
    const auto columns = vlm::AsOfColumns();
    const auto pointColumns = vlm::PointAsOfColumns();
    std::string out = "date" + names(columns) + names(pointColumns) + "\n";
    std::vector<double> values(columns.size()), pointValues(pointColumns.size());
    for (std::size_t r = 0; r < log.rows.size(); ++r) {
        vlm::AsOfValues(log.rows[r], values);
        vlm::PointAsOfValues(log.points[r], pointValues);
        out += dateOf(bars, log.rows[r].bar) + cells(values, columns) + cells(pointValues, pointColumns) + "\n";
    }
    return out;
}

std::string eventsCsv(const BarSeries& bars, const vlm::PointReplayLog& log) {
    std::vector<vlm::Column> columns(vlm::EventColumns().begin(), vlm::EventColumns().end());
    columns.insert(columns.end(), vlm::PointEventColumns().begin(), vlm::PointEventColumns().end());
    std::string out = "date,subject,event" + names(columns) + ",text\n";
    std::vector<double> values(columns.size());
    for (const vlm::ReplayEntry& entry : vlm::MergedEvents(log)) {
        if (const vlm::ReplayEvent* e = entry.structure) {
            vlm::StructureEventValues(*e, values);
            out += dateOf(bars, e->bar) + "," + vlm::subjectName(e->subject) + "," + vlm::kindName(e->kind) +
                   cells(values, columns) + "," + quoted(vlm::describe(*e)) + "\n";
        } else {
            const vlm::PointReplayEvent& p = *entry.point;
            vlm::PointEventValues(p, values);
            out += dateOf(bars, p.bar) + "," + vlm::kPointSubject + "," + vlm::kindName(p.kind) +
                   cells(values, columns) + "," + quoted(vlm::describe(p)) + "\n";
        }
    }
    return out;
}

}  // namespace vlmstruct
