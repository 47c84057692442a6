// The trading points, pivot zones and structures of a series as Python dicts.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "analysis_dicts.h"
#include "arrays.h"
#include "functions/series_functions.h"
#include "pivot/pivot_outputs.h"
#include "points/point_replay.h"
#include "text_columns.h"
#include "faces/replay_text.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

py::object orNaNObject(bool present, double v) { return present ? py::object(py::float_(v)) : py::none(); }

}  // namespace

// The trading-point options as the module's keywords give them; a bad value
// is a ValueError naming the keyword.
vlm::TradingPointOptions pointOptions(const std::vector<int>& macd, const std::string& force, int class1MinRun,
                                      double divergenceRatio) {
    vlm::TradingPointOptions options;
    if (macd.size() != 3) throw py::value_error("macd must be three periods (fast, slow, signal), e.g. (12, 26, 9)");
    if (macd[0] < 1 || macd[1] < 1 || macd[2] < 1) throw py::value_error("macd: each period must be at least 1");
    options.macd = {macd[0], macd[1], macd[2]};
    const auto measure = vlm::ParseForceMeasure(force);
    if (!measure) {
        throw py::value_error("force " + py::repr(py::str(force)).cast<std::string>() +
                              ": the measures are 'area', 'full-area', 'peak' and 'slope'");
    }
    options.force = *measure;
    if (class1MinRun < 1) throw py::value_error("class1_min_run must be at least 1");
    options.class1MinRun = class1MinRun;
    if (!(std::isfinite(divergenceRatio) && divergenceRatio > 0.0)) {
        throw py::value_error("divergence_ratio must be a finite number above 0");
    }
    options.divergenceRatio = divergenceRatio;
    vlm::CheckTradingPointOptions(options);
    return options;
}

// A point as a dict with the fields of the tool's JSON `points` (bars as
// positions; the Python layer adds the dates).
py::dict pointDict(const vlm::TradingPoint& p) {
    const vlm::PointPivot& z = vlm::PointPivotOf(p);
    std::vector<int> classes;
    for (int c = 1; c <= 3; ++c) {
        if (p.has(c)) classes.push_back(c);
    }
    py::dict d;
    d["side"] = p.side == vlm::PointSide::Buy ? "buy" : "sell";
    d["label"] = vlm::PointLabel(p);
    d["classes"] = py::tuple(py::cast(classes));
    d["bar"] = p.bar;
    d["price"] = p.price;
    d["pivot_start"] = z.pivot.start;
    d["pivot_end"] = z.pivot.end;
    d["pivot_upper"] = z.pivot.upper;
    d["pivot_lower"] = z.pivot.lower;
    d["pivot_trend"] = static_cast<int>(z.pivot.trend);
    d["pivot_run_count"] = static_cast<int>(z.runCount);
    d["leaving_force"] = orNaNObject(p.has(1), p.leavingForce);
    d["entering_force"] = orNaNObject(p.has(1), p.enteringForce);
    d["force_ratio"] = orNaNObject(p.has(1), p.forceRatio);
    d["follows_bar"] = p.has(2) ? py::object(py::int_(p.follows)) : py::none();
    return d;
}

// Pivot zones as dicts (start, end, upper, lower, trend, run_count, open):
// the closed ones, then those under way.
py::list zoneDicts(const vlm::ZhongShuList& all, std::size_t closed) {
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
        z["open"] = p >= closed;
        zones.append(z);
    }
    return zones;
}

// Stroke or segment ends as columns: bar, direction (1 top, -1 bottom), price.
py::dict marksDict(const std::vector<vlmstruct::Mark>& marks) {
    std::vector<std::int64_t> bars, directions;
    std::vector<float> prices;
    for (const vlmstruct::Mark& m : marks) {
        bars.push_back(m.bar);
        directions.push_back(m.direction);
        prices.push_back(m.price);
    }
    return py::dict(py::arg("bar") = owning(std::move(bars)), py::arg("direction") = owning(std::move(directions)),
                    py::arg("price") = owning(std::move(prices)));
}

// What analyze(df) shows of one series: the nine outputs (the analysis's own
// buffers where it keeps floats, made one column at a time from the bytes of
// a packed one), each bar's trading-point label, the zones, the stroke and
// segment ends and the points.
py::dict analysisDict(vlmstruct::Analysis&& a, bool includeOpen) {
    const std::size_t n = a.outputs[0].size();
    py::dict columns;
    for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
        columns[std::string(vlm::kSeriesFunctions[f].name).c_str()] = owning(std::move(a.outputs[f]).floats());
    }
    // A handful of labels (a side and its classes): each bar holds the one
    // Python string of its label, '' where no point is.
    std::vector<std::uint8_t> labelCodes(n, 0);
    std::vector<std::string> labels{""};
    for (const vlm::TradingPoint& p : a.points) {
        const std::string label = vlm::PointLabel(p);
        const auto known = std::find(labels.begin(), labels.end(), label);
        labelCodes.at(static_cast<std::size_t>(p.bar)) = static_cast<std::uint8_t>(known - labels.begin());
        if (known == labels.end()) labels.push_back(label);
    }
    vlm::ZhongShuList all = a.pivots;
    if (includeOpen && a.openPivot) all.push_back(*a.openPivot);
    py::list points;
    for (const vlm::TradingPoint& p : a.points) points.append(pointDict(p));
    return py::dict(py::arg("columns") = columns, py::arg("trading_point") = namesColumn(labelCodes, labels),
                    py::arg("zones") = zoneDicts(all, a.pivots.size()), py::arg("strokes") = marksDict(a.strokes),
                    py::arg("segments") = marksDict(a.segments), py::arg("points") = points);
}
}  // namespace vlmcore
