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
#include "replay_frames.h"

namespace vlmcore {

namespace py = pybind11;

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
