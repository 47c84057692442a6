// The Python face of the engine: the nine functions on numpy arrays, the
// pivot zones as records, and the bar file reader and the rules bars meet,
// shared with the command-line tool. The GIL is released while the core computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bar_file.h"
#include "functions/series_functions.h"
#include "kline/bar_count.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "stream/replay.h"

namespace py = pybind11;

namespace {

// Any numeric dtype is converted to float32, as the host hands the plug-in floats.
using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// A series converted to contiguous float32, with the view the core reads.
struct Series {
    FloatArray values;
    std::span<const float> span;
};

// The length is checked before anything is converted, so an oversized
// series is refused without being copied.
Series series(const py::object& given, const char* what, py::ssize_t length) {
    const py::array a = py::array::ensure(given);
    if (!a) throw py::type_error(std::string(what) + " must be an array or a sequence of numbers");
    if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be one-dimensional");
    const auto bars = static_cast<std::size_t>(a.shape(0));
    if (bars > vlm::kMaxBars) {
        throw py::value_error(std::string(what) + " has " + std::to_string(bars) +
                              " values: at most 2147483647 bars fit a 32-bit bar index");
    }
    if (length >= 0 && a.shape(0) != length) {
        throw py::value_error(std::string(what) + " has " + std::to_string(a.shape(0)) +
                              " values, expected " + std::to_string(length));
    }
    FloatArray values = FloatArray::ensure(a);
    if (!values) throw py::error_already_set();
    const std::span<const float> span(values.data(), bars);
    return {std::move(values), span};
}

FloatArray run(const vlm::SeriesFunction& f, const py::object* signal, const py::object& high,
               const py::object& low) {
    const Series hs = series(high, "high", -1);
    const auto h = hs.span;
    const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
    const auto l = ls.span;
    const Series ss = signal ? series(*signal, "signal", static_cast<py::ssize_t>(h.size())) : Series{};
    const auto s = ss.span;
    FloatArray out(static_cast<py::ssize_t>(h.size()));
    const std::span<float> o(out.mutable_data(), h.size());
    {
        py::gil_scoped_release unlocked;
        f.run({s, h, l}, o);
    }
    return out;
}

const char* kindText(vlm::ColumnKind kind) {
    switch (kind) {
        case vlm::ColumnKind::Bar: return "bar";
        case vlm::ColumnKind::Code: return "code";
        case vlm::ColumnKind::Price: return "price";
    }
    return "";
}

// Columns as float64 arrays (NaN where nothing is shown), with their kinds.
template <typename Row, typename Fill>
py::dict columnsOf(std::span<const vlm::Column> columns, const std::vector<Row>& rows, Fill fill) {
    std::vector<py::array_t<double>> arrays;
    std::vector<double*> data;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        arrays.emplace_back(static_cast<py::ssize_t>(rows.size()));
        data.push_back(arrays.back().mutable_data());
    }
    std::vector<double> values(columns.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        fill(rows[r], std::span<double>(values));
        for (std::size_t k = 0; k < columns.size(); ++k) data[k][r] = values[k];
    }
    py::dict out;
    py::dict kinds;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const std::string name(columns[k].name);
        out[name.c_str()] = arrays[k];
        kinds[name.c_str()] = kindText(columns[k].kind);
    }
    return py::dict(py::arg("columns") = out, py::arg("kinds") = kinds);
}

// An absent column (None) is an empty span.
Series optionalSeries(const py::object& given, const char* what, py::ssize_t length) {
    if (given.is_none()) return {};
    return series(given, what, length);
}

py::object orNone(const std::optional<std::size_t>& v) { return v ? py::object(py::int_(*v)) : py::none(); }

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

py::array_t<float> floats(const std::vector<float>& v) {
    py::array_t<float> out(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The plug-in's nine functions, bit for bit, on numpy arrays";
    m.attr("__version__") = VLM_VERSION;
    // Bad input is a ValueError, naming the file, line, column and text.
    py::register_exception<vlmstruct::BarFileError>(m, "BarFileError", PyExc_ValueError);

    m.def("read_bars", [](const std::string& path, bool allowNoDates) {
        vlmstruct::ReadReport report;
        vlmstruct::BarSeries bars;
        {
            py::gil_scoped_release unlocked;
            bars = vlmstruct::readBarFile(path, &report, {.allowNoDates = allowNoDates});
        }
        py::dict columns;
        const std::pair<const char*, const std::vector<float>*> named[] = {
            {"open", &bars.open}, {"high", &bars.high}, {"low", &bars.low}, {"close", &bars.close},
            {"volume", &bars.volume}};
        for (const auto& [name, values] : named) {
            if (!values->empty()) columns[name] = floats(*values);
        }
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
    for (const vlm::SeriesFunction& f : vlm::kSeriesFunctions) {
        const std::string name(f.name);
        const std::string doc = "Function " + std::to_string(f.number) + " (" + name +
                                "): returns a float32 array of one value per bar.";
        if (f.inputs == vlm::InputLayout::HighLow) {
            m.def(name.c_str(), [&f](const py::object& high, const py::object& low) {
                return run(f, nullptr, high, low);
            }, py::arg("high"), py::arg("low"), doc.c_str());
        } else {
            m.def(name.c_str(), [&f](const py::object& signal, const py::object& high, const py::object& low) {
                return run(f, &signal, high, low);
            }, py::arg("signal"), py::arg("high"), py::arg("low"), doc.c_str());
        }
    }
    m.def("function_names", [] {
        std::vector<std::string> names;
        for (const auto& f : vlm::kSeriesFunctions) names.emplace_back(f.name);
        return names;
    }, "The nine output names, in function order.");
    m.def("pivot_zones", [](const py::object& signal, const py::object& high, const py::object& low,
                            bool includeOpen) {
        const Series hs = series(high, "high", -1);
        const auto h = hs.span;
        const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto l = ls.span;
        const Series ss = series(signal, "signal", static_cast<py::ssize_t>(h.size()));
        const auto s = ss.span;
        vlm::ZhongShuList closed, all;
        {
            py::gil_scoped_release unlocked;
            closed = vlm::CalcPivotList(s, h, l);
            all = includeOpen ? vlm::CalcPivotList(s, h, l, {.includeOpenPivot = true}) : closed;
        }
        const std::vector<float> runs = vlm::PivotRunCounts(all);
        py::list zones;
        for (std::size_t p = 0; p < all.size(); ++p) {
            py::dict z;
            z["start"] = all[p].start;
            z["end"] = all[p].end;
            z["upper"] = all[p].upper;
            z["lower"] = all[p].lower;
            z["trend"] = static_cast<int>(all[p].trend);
            z["run_count"] = static_cast<int>(runs[p]);
            z["open"] = p >= closed.size();
            zones.append(z);
        }
        return zones;
    }, py::arg("signal"), py::arg("high"), py::arg("low"), py::arg("include_open") = false,
       "Pivot zones as dicts: start, end, upper, lower, trend, run_count, open.");
    m.def("replay", [](const py::object& high, const py::object& low, const py::object& close) {
        const Series hs = series(high, "high", -1);
        const auto h = hs.span;
        const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto l = ls.span;
        const Series cs = series(close, "close", static_cast<py::ssize_t>(h.size()));
        const auto c = cs.span;
        vlm::ReplayLog log;
        {
            py::gil_scoped_release unlocked;
            log = vlm::ReplaySeries(h, l, c);
        }
        py::dict events = columnsOf(vlm::EventColumns(), log.events, vlm::EventValues);
        py::list subjects, kinds, texts;
        for (const vlm::ReplayEvent& e : log.events) {
            subjects.append(vlm::subjectName(e.subject));
            kinds.append(vlm::kindName(e.kind));
            texts.append(vlm::describe(e));
        }
        events["subject"] = subjects;
        events["event"] = kinds;
        events["text"] = texts;
        return py::make_tuple(columnsOf(vlm::AsOfColumns(), log.rows, vlm::AsOfValues), events);
    }, py::arg("high"), py::arg("low"), py::arg("close"),
       "Bar by bar replay: (as-of columns, events), each a dict of columns and their kinds.");
}
