// Bar files read and bars checked as the tool reads and checks them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "arrays.h"
#include "barfile/date_order.h"
#include "barfile/dates.h"
#include "barfile/price_checks.h"
#include "barfile/bar_file.h"
#include "parts.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

// Dates as datetime64[ns] integers (NaT, the smallest integer, is no date)
// or as text the reader would take.
py::dict dateOrder(const py::object& given) {
    std::optional<std::size_t> bad;
    vlmstruct::DateOrder order;
    if (py::isinstance<py::array>(given) && py::array(given.cast<py::array>()).dtype().kind() == 'i') {
        const auto keys = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(given);
        if (!keys) throw py::error_already_set();
        const std::span<const std::int64_t> span(keys.data(), static_cast<std::size_t>(keys.size()));
        const auto nat = std::find(span.begin(), span.end(), std::numeric_limits<std::int64_t>::min());
        if (nat != span.end()) bad = static_cast<std::size_t>(nat - span.begin());
        if (!bad) order = vlmstruct::orderByDate(span);
    } else {
        const auto texts = given.cast<std::vector<std::string>>();
        std::vector<std::string> keys;
        keys.reserve(texts.size());
        for (std::size_t r = 0; r < texts.size() && !bad; ++r) {
            const auto date = vlmstruct::parseDateTime(texts[r]);
            if (date) {
                keys.push_back(date->key());
            } else {
                bad = r;
            }
        }
        if (!bad) order = vlmstruct::orderByDate(std::span<const std::string>(keys));
    }
    py::object positions = py::none();
    if (!order.order.empty()) {
        py::array_t<std::int64_t> out(static_cast<py::ssize_t>(order.order.size()));
        std::copy(order.order.begin(), order.order.end(), out.mutable_data());
        positions = out;
    }
    py::object duplicate = py::none();
    if (order.duplicate) duplicate = py::make_tuple(order.duplicate->first, order.duplicate->second);
    return py::dict(py::arg("order") = positions, py::arg("duplicate") = duplicate, py::arg("bad") = orNone(bad));
}

}  // namespace

void addBarFiles(py::module_& m) {
    m.def("read_bars", [](const std::string& path, bool allowNoDates) {
        vlmstruct::ReadReport report;
        vlmstruct::BarSeries bars;
        {
            py::gil_scoped_release unlocked;
            bars = vlmstruct::readBarFile(path, &report, {.allowNoDates = allowNoDates});
        }
        py::dict columns;
        const std::pair<const char*, const std::vector<float>*> named[] = {
            {"open", &bars.open}, {"high", &bars.high}, {"low", &bars.low}, {"close", &bars.close}};
        for (const auto& [name, values] : named) {
            if (!values->empty()) columns[name] = floats(*values);
        }
        if (!bars.volume.empty()) columns["volume"] = owning(std::move(bars.volume));
        return py::dict(py::arg("columns") = columns,
                        py::arg("dates") = report.noDates ? py::object(py::none()) : py::cast(bars.dates),
                        py::arg("reordered") = report.reordered, py::arg("encoding") = report.encoding);
    }, py::arg("path"), py::arg("allow_no_dates") = false,
       "Reads a bar file as the command-line tool does: {columns, dates, reordered, encoding}.");
    m.def("column_roles", [](const std::vector<std::string>& names) {
        std::vector<std::string> roles;
        for (const std::string& n : names) roles.emplace_back(vlmstruct::roleName(vlmstruct::columnOf(n)));
        return roles;
    }, py::arg("names"), "What each column name holds: date, time, open, high, low, close, volume or ''.");
    m.def("check_prices", [](const py::object& open, const py::object& high, const py::object& low,
                             const py::object& close) -> py::object {
        const Series hs = series(high, "high", -1);
        const auto n = static_cast<py::ssize_t>(hs.span.size());
        const Series ls = series(low, "low", n), os = optionalSeries(open, "open", n),
                     cs = optionalSeries(close, "close", n);
        const auto problem =
            vlmstruct::checkPrices({.open = os.span, .high = hs.span, .low = ls.span, .close = cs.span});
        if (!problem) return py::none();
        return py::make_tuple(problem->row, vlmstruct::roleName(problem->column), problem->what);
    }, py::arg("open"), py::arg("high"), py::arg("low"), py::arg("close"),
       "The first bar that breaks the price rules, as (row, column, what), or None.");
    m.def("date_order", &dateOrder, py::arg("dates"),
          "Dates checked and ordered: {order (positions, None when ascending), duplicate (earlier, later) "
          "or None, bad (the first position that is no date) or None}.");
}

}  // namespace vlmcore
