// The Python face of the engine: the nine functions on numpy arrays, and the
// pivot zones as records. The GIL is released while the core computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "functions/series_functions.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "stream/replay.h"

namespace py = pybind11;

namespace {

// Any numeric dtype is converted to float32, as the host hands the plug-in floats.
using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

std::span<const float> view(const FloatArray& a, const char* what, py::ssize_t length) {
    if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be one-dimensional");
    if (length >= 0 && a.shape(0) != length) {
        throw py::value_error(std::string(what) + " has " + std::to_string(a.shape(0)) +
                              " values, expected " + std::to_string(length));
    }
    return {a.data(), static_cast<std::size_t>(a.shape(0))};
}

FloatArray run(const vlm::SeriesFunction& f, const FloatArray* signal, const FloatArray& high,
               const FloatArray& low) {
    const auto h = view(high, "high", -1);
    const auto l = view(low, "low", static_cast<py::ssize_t>(h.size()));
    const auto s = signal ? view(*signal, "signal", static_cast<py::ssize_t>(h.size()))
                          : std::span<const float>{};
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
            m.def(name.c_str(), [&f](const FloatArray& high, const FloatArray& low) {
                return run(f, nullptr, high, low);
            }, py::arg("high"), py::arg("low"), doc.c_str());
        } else {
            m.def(name.c_str(), [&f](const FloatArray& signal, const FloatArray& high, const FloatArray& low) {
                return run(f, &signal, high, low);
            }, py::arg("signal"), py::arg("high"), py::arg("low"), doc.c_str());
        }
    }
    m.def("function_names", [] {
        std::vector<std::string> names;
        for (const auto& f : vlm::kSeriesFunctions) names.emplace_back(f.name);
        return names;
    }, "The nine output names, in function order.");
    m.def("pivot_zones", [](const FloatArray& signal, const FloatArray& high, const FloatArray& low,
                            bool includeOpen) {
        const auto h = view(high, "high", -1);
        const auto l = view(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto s = view(signal, "signal", static_cast<py::ssize_t>(h.size()));
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
    m.def("replay", [](const FloatArray& high, const FloatArray& low, const FloatArray& close) {
        const auto h = view(high, "high", -1);
        const auto l = view(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto c = view(close, "close", static_cast<py::ssize_t>(h.size()));
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
