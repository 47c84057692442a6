// The Python face of the engine: the nine functions on numpy arrays, and the
// pivot zones as records. The GIL is released while the core computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

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

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The plug-in's nine functions, bit for bit, on numpy arrays";
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
