// The nine functions, the pivot zones, the trading points and the whole
// analysis of a series.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis_dicts.h"
#include "arrays.h"
#include "functions/series_functions.h"
#include "parts.h"
#include "pivot/pivot_list.h"
#include "points/trading_points.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

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

}  // namespace

void addFunctions(py::module_& m) {
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
        return zoneDicts(all, closed.size());
    }, py::arg("signal"), py::arg("high"), py::arg("low"), py::arg("include_open") = false,
       "Pivot zones as dicts: start, end, upper, lower, trend, run_count, open.");
}

void addAnalysis(py::module_& m) {
    m.def("trading_points", [](const py::object& high, const py::object& low, const py::object& close,
                               const std::vector<int>& macd, const std::string& force, int class1MinRun,
                               double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const Prices prices = pricesOf(high, low, close);
        std::vector<vlm::TradingPoint> points;
        {
            py::gil_scoped_release unlocked;
            points = vlm::CalcTradingPoints(prices.high.span, prices.low.span, prices.close.span, options);
        }
        py::list out;
        for (const vlm::TradingPoint& p : points) out.append(pointDict(p));
        return out;
    }, py::arg("high"), py::arg("low"), py::arg("close") = py::none(), py::arg("macd") = std::vector<int>{12, 26, 9},
       py::arg("force") = "area", py::arg("class1_min_run") = 2, py::arg("divergence_ratio") = 1.0,
       "Trading points in bar order as dicts (side, label, classes, bar, price, pivot_*, forces, follows_bar); "
       "without closes (None) the mid-price (high + low) / 2.");
    m.def("analyze", [](const py::object& high, const py::object& low, const py::object& close, bool includeOpen,
                        const std::vector<int>& macd, const std::string& force, int class1MinRun,
                        double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const Prices prices = pricesOf(high, low, close);
        vlmstruct::Analysis a;
        {
            py::gil_scoped_release unlocked;
            a = vlmstruct::analyse(prices.high.span, prices.low.span, prices.close.span, options);
        }
        return analysisDict(std::move(a), includeOpen);
    }, py::arg("high"), py::arg("low"), py::arg("close") = py::none(), py::arg("include_open") = false,
       py::arg("macd") = std::vector<int>{12, 26, 9}, py::arg("force") = "area", py::arg("class1_min_run") = 2,
       py::arg("divergence_ratio") = 1.0,
       "The nine outputs and the structures behind them: {columns, trading_point, zones, strokes, segments, "
       "points}.");
}

}  // namespace vlmcore
