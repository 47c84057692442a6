#include "replay_files.h"

#include <cmath>
#include <vector>

#include "levels.h"
#include "levels/level_replay.h"
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

std::string levelsAsOfCsv(const BarSeries& bars, const std::vector<vlm::levels::Period>& periods,
                          const vlm::levels::ResampleOptions& resample, const vlm::TradingPointOptions& points) {
    if (bars.dates.empty()) {
        throw std::invalid_argument("levels need the bars' dates; this file has no date column");
    }
    std::vector<vlm::levels::Seconds> time;
    time.reserve(bars.size());
    for (const std::string& d : bars.dates) time.push_back(barTime(d));
    // The whole file must make every level, as analyze --levels has it; a
    // prefix may not yet.
    const vlm::levels::Seconds interval = vlm::levels::BaseInterval(time);
    for (const vlm::levels::Period& period : periods) vlm::levels::CheckBaseInterval(period, interval);
    vlm::levels::LevelReplay replay(periods, resample, points);

    const auto columns = vlm::AsOfColumns();
    const auto pointColumns = vlm::PointAsOfColumns();
    std::string out = "date";
    for (std::size_t k = 0; k <= periods.size(); ++k) {
        const std::string prefix = (k == 0 ? std::string(kBaseLevelName) : vlm::levels::PeriodName(periods[k - 1])) + "_";
        for (const vlm::Column& c : columns) out += "," + prefix + std::string(c.name);
        for (const vlm::Column& c : pointColumns) out += "," + prefix + std::string(c.name);
    }
    out += "\n";
    std::vector<double> values(columns.size()), pointValues(pointColumns.size());
    const auto first = [](std::span<const float> s, std::size_t n) { return s.empty() ? s : s.first(n); };
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const std::size_t n = i + 1;
        replay.push({std::span<const vlm::levels::Seconds>(time).first(n), first(bars.open, n),
                     first(bars.high, n), first(bars.low, n), first(bars.close, n), first(bars.volume, n)});
        out += bars.dates[i];
        for (const vlm::levels::LevelAsOf& row : replay.rows()) {
            if (!row.present) {
                out.append(columns.size() + pointColumns.size(), ',');
                continue;
            }
            vlm::AsOfValues(row.structures, values);
            vlm::PointAsOfValues(row.point, pointValues);
            for (std::size_t c = 0; c < columns.size(); ++c) {
                out += ',';
                out += cell(values[c], columns[c].kind);
            }
            for (std::size_t c = 0; c < pointColumns.size(); ++c) {
                out += ',';
                out += cell(pointValues[c], pointColumns[c].kind);
            }
        }
        out += '\n';
    }
    return out;
}

}  // namespace vlmstruct
