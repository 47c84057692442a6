#pragma once
// The replay's as-of rows and events gathered into the data frames' columns,
// for every face that hands them to Python (replay, the live stream), so
// their columns cannot differ.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "arrays.h"
#include "faces/replay_columns.h"
#include "faces/replay_text.h"
#include "points/point_replay.h"
#include "stream/replay.h"
#include "text_columns.h"

namespace vlmcore {

namespace py = pybind11;

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

    // Room for `bars` bars' events, and their as-of rows unless only the
    // events are wanted.
    explicit ReplayColumns(std::size_t bars, bool withAsOf = true)
        : asOfColumns(joined(vlm::AsOfColumns(), vlm::PointAsOfColumns())),
          eventColumns(joined(vlm::EventColumns(), vlm::PointEventColumns())),
          asOf(asOfColumns, withAsOf ? bars : 0),
          // About two changes a bar on random walks; more only costs a reallocation.
          events(eventColumns, 2 * bars + 16),
          values(std::max(asOfColumns.size(), eventColumns.size())) {}

    // The as-of columns' values of one bar, written into `row`
    // (asOfColumns.size() of them).
    static void asOfValues(const vlm::AsOfRow& structures, const vlm::PointAsOf& point, std::span<double> row) {
        const std::size_t structureColumns = vlm::AsOfColumns().size();
        vlm::AsOfValues(structures, row.first(structureColumns));
        vlm::PointAsOfValues(point, row.subspan(structureColumns));
    }

    void add(const vlm::ReplayedBar& bar) {
        const std::span<double> row(values.data(), asOfColumns.size());
        asOfValues(bar.row, bar.point, row);
        asOf.push(row);
        addEvents(bar.events, bar.pointEvents);
    }

    // A bar's events: the structures', then the points'.
    void addEvents(std::span<const vlm::ReplayEvent> structures, std::span<const vlm::PointReplayEvent> points) {
        const std::span<double> event(values.data(), eventColumns.size());
        for (const vlm::ReplayEvent& e : structures) {
            vlm::StructureEventValues(e, event);
            events.push(event);
            subjects.push_back(static_cast<std::uint8_t>(e.subject));
            kinds.push_back(static_cast<std::uint8_t>(e.kind));
            texts.push(vlm::describe(e));
        }
        for (const vlm::PointReplayEvent& e : points) {
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

}  // namespace vlmcore
