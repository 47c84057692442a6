#include "analysis/replay_files.h"

#include <cmath>
#include <span>
#include <vector>

#include "kline/bar_count.h"

#include "analysis/levels.h"
#include "levels/level_replay.h"
#include "barfile/cell_text.h"
#include "barfile/text_sink.h"
#include "faces/replay_text.h"
#include "faces/replay_columns.h"

namespace vlmstruct {

namespace {

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

template <typename... Lists>
std::vector<vlm::Column> joined(const Lists&... lists) {
    std::vector<vlm::Column> columns;
    (columns.insert(columns.end(), lists.begin(), lists.end()), ...);
    return columns;
}

// The as-of columns in groups by how often they change (each group costs a
// comparison, each change a group's text): the bar and the close at every
// bar, the stroke in progress at about one bar in three, the other marks,
// the two pivots with where the close stands against them, the point.
std::vector<std::size_t> asOfGroups() {
    constexpr std::size_t kMark = 3;  // direction, bar, price
    constexpr std::size_t kPivot = 7;  // six of the pivot, then the close against it
    return {2, kMark, (2 * vlm::kAsOfSeries.size() - 1) * kMark, 2 * kPivot, vlm::PointAsOfColumns().size()};
}

// The rows of both files, however the replay is held: one place writes them.
class ReplayWriter {
public:
    explicit ReplayWriter(const BarSeries& bars)
        : bars_(bars), asOfColumns_(joined(vlm::AsOfColumns(), vlm::PointAsOfColumns())),
          eventColumns_(joined(vlm::EventColumns(), vlm::PointEventColumns())),
          asOfValues_(asOfColumns_.size()), eventValues_(eventColumns_.size()),
          asOfCells_(asOfColumns_, asOfGroups(), &floats_) {}

    void asOfHeader(TextSink& out) const {
        out.put("date");
        putNames(out, asOfColumns_);
        out.put('\n');
    }
    void eventsHeader(TextSink& out) const {
        out.put("date,subject,event");
        putNames(out, eventColumns_);
        out.put(",text\n");
    }
    void asOfRow(TextSink& out, const vlm::AsOfRow& row, const vlm::PointAsOf& point) {
        const std::span<double> values(asOfValues_);
        const std::size_t n = vlm::AsOfColumns().size();
        vlm::AsOfValues(row, values.first(n));
        vlm::PointAsOfValues(point, values.subspan(n));
        putDate(out, row.bar);
        asOfCells_.put(out, values);
        out.put('\n');
    }
    void event(TextSink& out, const vlm::ReplayEvent& e) {
        vlm::StructureEventValues(e, eventValues_);
        char text[vlm::kEventTextSize];
        eventRow(out, e.bar, vlm::subjectName(e.subject), vlm::kindName(e.kind),
                 {text, vlm::describe(text, e, &floats_)});
    }
    void event(TextSink& out, const vlm::PointReplayEvent& p) {
        vlm::PointEventValues(p, eventValues_);
        char text[vlm::kEventTextSize];
        eventRow(out, p.bar, vlm::kPointSubject, vlm::kindName(p.kind),
                 {text, vlm::describe(text, p, &floats_)});
    }

private:
    // One events line, from the values already in eventValues_.
    void eventRow(TextSink& out, std::int32_t bar, std::string_view subject, std::string_view kind,
                  std::string_view text) {
        putDate(out, bar);
        out.put(',');
        out.put(subject);
        out.put(',');
        out.put(kind);
        putCells(out, eventValues_, eventColumns_, &floats_);
        out.put(',');
        putQuoted(out, text);
        out.put('\n');
    }
    // A bar's as-of row and its events carry one date: made once.
    void putDate(TextSink& out, std::int32_t bar) {
        if (!bars_.hasDates() || bar < 0) return;
        if (bar != dateBar_) {
            date_.clear();
            bars_.appendDate(date_, static_cast<std::size_t>(bar));
            dateBar_ = bar;
        }
        out.put(date_);
    }

    const BarSeries& bars_;
    std::vector<vlm::Column> asOfColumns_, eventColumns_;
    std::vector<double> asOfValues_, eventValues_;
    FloatMemo floats_;  // shared: the files repeat each other's prices
    CachedCells asOfCells_;
    std::int32_t dateBar_ = -1;
    std::string date_;
};

// The first n values of a column, or none where the file has none.
template <typename T>
std::span<const T> firstOf(const std::vector<T>& column, std::size_t n) {
    return column.empty() ? std::span<const T>() : std::span<const T>(column).first(n);
}

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
    vlm::RequireLength("low", bars.low.size(), bars.size());
    vlm::RequireLength("close", bars.close.size(), bars.size(), true);
    ReplayWriter writer(bars);
    writer.asOfHeader(asOf);
    if (events != nullptr) writer.eventsHeader(*events);
    vlm::PointReplay replay(points);
    std::size_t count = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        replay.push(bars.high[i], bars.low[i], vlm::CloseAt(bars.close, i));
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
    const std::vector<vlm::levels::Seconds> time = barSeconds(bars);
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
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const std::size_t n = i + 1;
        replay.push({firstOf(time, n), firstOf(bars.open, n), firstOf(bars.high, n), firstOf(bars.low, n),
                     firstOf(bars.close, n), firstOf(bars.volume, n)});
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
