#pragma once
// The module's functions, added group by group in the order the module lists them.

#include <pybind11/pybind11.h>

namespace vlmcore {

namespace py = pybind11;

void addBarFiles(py::module_& m);    // read_bars, column_roles, check_prices, date_order
void addFunctions(py::module_& m);   // the nine functions, function_names, pivot_zones
void addResample(py::module_& m);    // resample
void addAnalysis(py::module_& m);    // trading_points, analyze
void addLevels(py::module_& m);      // analyze_levels
void addReplay(py::module_& m);      // replay
void addScan(py::module_& m);        // bar_files, scan_rows, scan_error_row
void addReplayFile(py::module_& m);  // replay_file
void addEvaluation(py::module_& m);  // evaluate, evaluate_file, summarise
void addStream(py::module_& m);      // LiveStream

}  // namespace vlmcore
