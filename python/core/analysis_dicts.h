#pragma once
// The trading points, pivot zones and structures of a series as Python dicts.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "pivot/pivot_list.h"
#include "points/trading_points.h"

namespace vlmcore {

namespace py = pybind11;

// The trading-point options as the module's keywords give them; a bad value
// is a ValueError naming the keyword.
vlm::TradingPointOptions pointOptions(const std::vector<int>& macd, const std::string& force, int class1MinRun,
                                      double divergenceRatio);

// A point as a dict with the fields of the tool's JSON `points` (bars as
// positions; the Python layer adds the dates).
py::dict pointDict(const vlm::TradingPoint& p);

// Pivot zones as dicts (start, end, upper, lower, trend, run_count, open):
// the closed ones, then those under way.
py::list zoneDicts(const vlm::ZhongShuList& all, std::size_t closed);

// Stroke or segment ends as columns: bar, direction (1 top, -1 bottom), price.
py::dict marksDict(const std::vector<vlmstruct::Mark>& marks);

// What analyze(df) shows of one series: the nine outputs (the analysis's own
// buffers where it keeps floats, made one column at a time from the bytes of
// a packed one), each bar's trading-point label, the zones, the stroke and
// segment ends and the points.
py::dict analysisDict(vlmstruct::Analysis&& a, bool includeOpen);

}  // namespace vlmcore
