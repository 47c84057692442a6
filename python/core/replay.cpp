// The replay bar by bar into the data frames' columns, and the tool's replay
// files of one bar file.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/replay_files.h"
#include "analysis_dicts.h"
#include "arrays.h"
#include "barfile/output_files.h"
#include "parts.h"
#include "points/point_replay.h"
#include "stream/replay.h"
#include "text_columns.h"
#include "faces/replay_text.h"
#include "faces/replay_columns.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

// Rows of numbers gathered column by column, as the data frames hold them:
// prices as the float32 they are, bars, counts and codes as float64 so that
// a missing value is NaN, which compares false in a backtest's conditions.
class NumberColumns {
public:
    NumberColumns(std::span<const vlm::Column> columns, std::size_t rows)
        : columns_(columns), wide_(columns.size()), narrow_(columns.size()) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            if (isPrice(k)) narrow_[k].reserve(rows);
            else wide_[k].reserve(rows);
        }
    }

    void push(std::span<const double> values) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            if (isPrice(k)) narrow_[k].push_back(static_cast<float>(values[k]));
            else wide_[k].push_back(values[k]);
        }
    }

    // Adds each column to `out` under its name, in column order.
    void moveInto(py::dict& out) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const std::string name(columns_[k].name);
            if (isPrice(k)) out[name.c_str()] = owning(std::move(narrow_[k]));
            else out[name.c_str()] = owning(std::move(wide_[k]));
        }
    }

private:
    [[nodiscard]] bool isPrice(std::size_t k) const { return columns_[k].kind == vlm::ColumnKind::Price; }

    std::span<const vlm::Column> columns_;
    std::vector<std::vector<double>> wide_;
    std::vector<std::vector<float>> narrow_;
};


// The replay written straight into the data frames' columns, bar by bar,
// with no log kept: the as-of columns (the structures', then the points'),
// and the events, structures' first within a bar, as the tool's files list
// them.
struct ReplayColumns {
    std::vector<vlm::Column> asOfColumns, eventColumns;
    NumberColumns asOf, events;
    std::vector<std::uint8_t> subjects, kinds;
    TextColumn texts;
    std::vector<double> values;  // one row, either kind

    static std::vector<vlm::Column> joined(std::span<const vlm::Column> a, std::span<const vlm::Column> b) {
        std::vector<vlm::Column> out(a.begin(), a.end());
        out.insert(out.end(), b.begin(), b.end());
        return out;
    }

    // Texts kept as C++ strings at most: a few megabytes.
    static constexpr std::size_t kTextsPerFlush = 1 << 16;

    // The subject codes: the structures' subjects, then the points'.
    static constexpr auto kPointSubjectCode = static_cast<std::uint8_t>(vlm::EventSubject::PivotUnderWay) + 1;

    static std::vector<std::string> subjectNames() {
        std::vector<std::string> names;
        for (std::uint8_t s = 0; s < kPointSubjectCode; ++s) {
            names.emplace_back(vlm::subjectName(static_cast<vlm::EventSubject>(s)));
        }
        names.emplace_back(vlm::kPointSubject);
        return names;
    }

    static std::vector<std::string> kindNames() {
        std::vector<std::string> names;
        for (int k = 0; k <= static_cast<int>(vlm::EventKind::Extended); ++k) {
            names.emplace_back(vlm::kindName(static_cast<vlm::EventKind>(k)));
        }
        return names;
    }

    ReplayColumns(const ReplayColumns&) = delete;  // the columns view the names above
    ReplayColumns& operator=(const ReplayColumns&) = delete;

    explicit ReplayColumns(std::size_t bars)
        : asOfColumns(joined(vlm::AsOfColumns(), vlm::PointAsOfColumns())),
          eventColumns(joined(vlm::EventColumns(), vlm::PointEventColumns())),
          asOf(asOfColumns, bars),
          // About two changes a bar on random walks; more only costs a reallocation.
          events(eventColumns, 2 * bars + 16),
          values(std::max(asOfColumns.size(), eventColumns.size())) {}

    void add(const vlm::ReplayedBar& bar) {
        const std::size_t structureColumns = vlm::AsOfColumns().size();
        const std::span<double> row(values.data(), asOfColumns.size());
        vlm::AsOfValues(bar.row, row.first(structureColumns));
        vlm::PointAsOfValues(bar.point, row.subspan(structureColumns));
        asOf.push(row);
        const std::span<double> event(values.data(), eventColumns.size());
        for (const vlm::ReplayEvent& e : bar.events) {
            vlm::StructureEventValues(e, event);
            events.push(event);
            subjects.push_back(static_cast<std::uint8_t>(e.subject));
            kinds.push_back(static_cast<std::uint8_t>(e.kind));
            texts.push(vlm::describe(e));
        }
        for (const vlm::PointReplayEvent& e : bar.pointEvents) {
            vlm::PointEventValues(e, event);
            events.push(event);
            subjects.push_back(kPointSubjectCode);
            kinds.push_back(static_cast<std::uint8_t>(e.kind));
            texts.push(vlm::describe(e));
        }
        if (texts.pending() >= kTextsPerFlush) {
            py::gil_scoped_acquire held;
            texts.flush();
        }
    }

    // ({as-of column: array}, {event column: array}): the events' bar first,
    // then subject and event, the other numbers, and the text last.
    py::tuple take() {
        py::dict asOfOut, eventsOut, numbers;
        asOf.moveInto(asOfOut);
        events.moveInto(numbers);
        eventsOut["bar"] = numbers["bar"];
        eventsOut["subject"] = namesColumn(subjects, subjectNames());
        eventsOut["event"] = namesColumn(kinds, kindNames());
        for (const auto& [name, column] : numbers) {
            if (name.cast<std::string>() != "bar") eventsOut[name] = column;
        }
        eventsOut["text"] = texts.take();
        return py::make_tuple(asOfOut, eventsOut);
    }
};

}  // namespace

void addReplay(py::module_& m) {
    m.def("replay", [](const py::object& high, const py::object& low, const py::object& close,
                       const std::vector<int>& macd, const std::string& force, int class1MinRun,
                       double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const Series hs = series(high, "high", -1);
        const auto h = hs.span;
        const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto l = ls.span;
        const Series cs = optionalSeries(close, "close", static_cast<py::ssize_t>(h.size()));
        const auto c = cs.span;
        ReplayColumns columns(h.size());
        {
            py::gil_scoped_release unlocked;
            vlm::ReplayWithPoints(h, l, c, options, [&columns](const vlm::ReplayedBar& bar) { columns.add(bar); });
        }
        return columns.take();
    }, py::arg("high"), py::arg("low"), py::arg("close") = py::none(), py::arg("macd") = std::vector<int>{12, 26, 9},
       py::arg("force") = "area", py::arg("class1_min_run") = 2, py::arg("divergence_ratio") = 1.0,
       "Bar by bar replay with trading points: (as-of columns, event columns), each a dict of arrays in frame order; "
       "without closes (None) the points read the mid-price (high + low) / 2, and a close that is not a finite "
       "number holds the averages, as in trading_points.");

}

void addReplayFile(py::module_& m) {
    m.def("replay_file", [](const std::string& path, const std::string& asOf, const std::string& events,
                            bool allowNoDates) {
        std::size_t bars = 0, changes = 0;
        vlmstruct::ReadReport report;
        {
            py::gil_scoped_release unlocked;
            vlmstruct::checkOutputPaths({{"as-of", asOf}, {"events", events}}, {path});
            const vlmstruct::BarSeries series = vlmstruct::readBarFile(path, &report, {.allowNoDates = allowNoDates});
            const vlm::PointReplayLog log = vlmstruct::replayBars(series);
            vlmstruct::OutputFiles outputs;
            outputs.add(asOf, vlmstruct::asOfCsv(series, log));
            outputs.add(events, vlmstruct::eventsCsv(series, log));
            outputs.commit();
            bars = series.size();
            changes = log.events.size() + log.pointEvents.size();
        }
        return py::dict(py::arg("bars") = bars, py::arg("events") = changes, py::arg("reordered") = report.reordered,
                        py::arg("no_dates") = report.noDates);
    }, py::arg("path"), py::arg("asof"), py::arg("events"), py::arg("allow_no_dates") = false,
       "`vlmstruct replay PATH -o ASOF --events EVENTS`: both files written or neither. {bars, events, ...}.");
}

}  // namespace vlmcore
