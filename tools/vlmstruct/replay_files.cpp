#include "replay_files.h"

#include <cmath>
#include <limits>
#include <vector>

#include "levels.h"
#include "levels/level_replay.h"
#include "output_files.h"

namespace vlmstruct {

namespace {

// Empty where there is nothing; bars and codes as integers, prices as the
// float they are.
void putCell(TextSink& out, double v, vlm::ColumnKind kind) {
    if (std::isnan(v)) return;
    if (kind == vlm::ColumnKind::Price) {
        out.putFloat(static_cast<float>(v));
    } else {
        out.putInt(static_cast<long long>(v));
    }
}

void putQuoted(TextSink& out, std::string_view text) {
    out.put('"');
    for (std::size_t quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
        out.put(text.substr(0, quote + 1));
        out.put('"');
        text.remove_prefix(quote + 1);
    }
    out.put(text);
    out.put('"');
}

void putNames(TextSink& out, std::span<const vlm::Column> columns) {
    for (const vlm::Column& c : columns) {
        out.put(',');
        out.put(c.name);
    }
}

void putCells(TextSink& out, std::span<const double> values, std::span<const vlm::Column> columns) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
        out.put(',');
        putCell(out, values[k], columns[k].kind);
    }
}

void putDate(TextSink& out, const BarSeries& bars, double bar) {
    if (!bars.hasDates() || std::isnan(bar)) return;
    out.putDate(bars, static_cast<std::size_t>(bar));
}

std::vector<vlm::Column> eventColumns() {
    std::vector<vlm::Column> columns(vlm::EventColumns().begin(), vlm::EventColumns().end());
    columns.insert(columns.end(), vlm::PointEventColumns().begin(), vlm::PointEventColumns().end());
    return columns;
}

// The rows of both files, however the replay is held: one place writes them.
class ReplayWriter {
public:
    explicit ReplayWriter(const BarSeries& bars)
        : bars_(bars), asOfColumns_(vlm::AsOfColumns()), pointColumns_(vlm::PointAsOfColumns()),
          eventColumns_(eventColumns()), asOfValues_(asOfColumns_.size()), pointValues_(pointColumns_.size()),
          eventValues_(eventColumns_.size()) {}

    void asOfHeader(TextSink& out) const {
        out.put("date");
        putNames(out, asOfColumns_);
        putNames(out, pointColumns_);
        out.put('\n');
    }
    void eventsHeader(TextSink& out) const {
        out.put("date,subject,event");
        putNames(out, eventColumns_);
        out.put(",text\n");
    }
    void asOfRow(TextSink& out, const vlm::AsOfRow& row, const vlm::PointAsOf& point) {
        vlm::AsOfValues(row, asOfValues_);
        vlm::PointAsOfValues(point, pointValues_);
        putDate(out, bars_, row.bar);
        putCells(out, asOfValues_, asOfColumns_);
        putCells(out, pointValues_, pointColumns_);
        out.put('\n');
    }
    void event(TextSink& out, const vlm::ReplayEvent& e) {
        vlm::StructureEventValues(e, eventValues_);
        eventRow(out, e.bar, vlm::subjectName(e.subject), vlm::kindName(e.kind), vlm::describe(e));
    }
    void event(TextSink& out, const vlm::PointReplayEvent& p) {
        vlm::PointEventValues(p, eventValues_);
        eventRow(out, p.bar, vlm::kPointSubject, vlm::kindName(p.kind), vlm::describe(p));
    }

private:
    // One events line, from the values already in eventValues_.
    void eventRow(TextSink& out, double bar, std::string_view subject, std::string_view kind,
                  std::string_view text) {
        putDate(out, bars_, bar);
        out.put(',');
        out.put(subject);
        out.put(',');
        out.put(kind);
        putCells(out, eventValues_, eventColumns_);
        out.put(',');
        putQuoted(out, text);
        out.put('\n');
    }

    const BarSeries& bars_;
    std::span<const vlm::Column> asOfColumns_, pointColumns_;
    std::vector<vlm::Column> eventColumns_;
    std::vector<double> asOfValues_, pointValues_, eventValues_;
};

}  // namespace

vlm::PointReplayLog replayBars(const BarSeries& bars, const vlm::TradingPointOptions& points) {
    return vlm::ReplayWithPoints(bars.high, bars.low, bars.close, points);
}

std::string asOfCsv(const BarSeries& bars, const vlm::PointReplayLog& log) {
    ReplayWriter writer(bars);
    std::string text;
    TextSink out(text);
    writer.asOfHeader(out);
    for (std::size_t r = 0; r < log.rows.size(); ++r) {
        writer.asOfRow(out, log.rows[r], log.points[r]);
        out.written();
    }
    out.flush();
    return text;
}

std::string eventsCsv(const BarSeries& bars, const vlm::PointReplayLog& log) {
    ReplayWriter writer(bars);
    std::string text;
    TextSink out(text);
    writer.eventsHeader(out);
    for (const vlm::ReplayEntry& entry : vlm::MergedEvents(log)) {
        if (entry.structure != nullptr) {
            writer.event(out, *entry.structure);
        } else {
            writer.event(out, *entry.point);
        }
        out.written();
    }
    out.flush();
    return text;
}

std::size_t writeReplay(const BarSeries& bars, const vlm::TradingPointOptions& points, TextSink& asOf,
                        TextSink* events) {
    if (bars.low.size() < bars.size() || (!bars.close.empty() && bars.close.size() < bars.size())) {
        throw std::invalid_argument("the lows and closes must cover every bar");
    }
    ReplayWriter writer(bars);
    writer.asOfHeader(asOf);
    if (events != nullptr) writer.eventsHeader(*events);
    vlm::PointReplay replay(points);
    std::size_t count = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        replay.push(bars.high[i], bars.low[i],
                    bars.close.empty() ? std::numeric_limits<float>::quiet_NaN() : bars.close[i]);
        writer.asOfRow(asOf, replay.structures().asOf(), replay.pointAsOf());
        asOf.written();
        // A bar's structure events, then its points' (as MergedEvents orders them).
        const auto structureEvents = replay.structures().events();
        const auto pointEvents = replay.pointEvents();
        count += structureEvents.size() + pointEvents.size();
        if (events == nullptr) continue;
        for (const vlm::ReplayEvent& e : structureEvents) writer.event(*events, e);
        for (const vlm::PointReplayEvent& p : pointEvents) writer.event(*events, p);
        events->written();
    }
    return count;
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
    std::string text;
    TextSink out(text);
    out.put("date");
    for (std::size_t k = 0; k <= periods.size(); ++k) {
        const std::string prefix = (k == 0 ? std::string(kBaseLevelName) : vlm::levels::PeriodName(periods[k - 1])) + "_";
        for (const auto* list : {&columns, &pointColumns}) {
            for (const vlm::Column& c : *list) {
                out.put(',');
                out.put(prefix);
                out.put(c.name);
            }
        }
    }
    out.put('\n');
    std::vector<double> values(columns.size()), pointValues(pointColumns.size());
    const auto first = [](std::span<const float> s, std::size_t n) { return s.empty() ? s : s.first(n); };
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const std::size_t n = i + 1;
        replay.push({std::span<const vlm::levels::Seconds>(time).first(n), first(bars.open, n),
                     first(bars.high, n), first(bars.low, n), first(bars.close, n), first(bars.volume, n)});
        out.putDate(bars, i);
        for (const vlm::levels::LevelAsOf& row : replay.rows()) {
            if (!row.present) {
                for (std::size_t c = 0; c < columns.size() + pointColumns.size(); ++c) out.put(',');
                continue;
            }
            vlm::AsOfValues(row.structures, values);
            vlm::PointAsOfValues(row.point, pointValues);
            putCells(out, values, columns);
            putCells(out, pointValues, pointColumns);
        }
        out.put('\n');
        out.written();
    }
    out.flush();
    return text;
}

}  // namespace vlmstruct
