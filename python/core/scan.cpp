// The tool's scan, file by file, for the distributed helpers.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "analysis/scan.h"
#include "parts.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

// One scan row as the tool's summary writes it, without the header.
std::string scanLine(const vlmstruct::ScanRow& row) {
    const std::string text = vlmstruct::scanCsv({row});
    return text.substr(text.find('\n') + 1);
}

std::string scanHeader() {
    const std::string text = vlmstruct::scanCsv({});
    return text.substr(0, text.find('\n') + 1);
}

}  // namespace

void addScan(py::module_& m) {
    // the same routines and writers, so their outputs equal the tool's.
    m.def("bar_files", [](const std::string& folder, bool recursive, const std::vector<std::string>& exclude) {
        vlmstruct::ScanOptions options;
        options.recursive = recursive;
        options.exclude.assign(exclude.begin(), exclude.end());
        const vlmstruct::BarFileList list = vlmstruct::barFilesIn(folder, options);
        std::vector<std::string> files;
        for (const auto& f : list.files) files.push_back(f.string());
        return py::make_tuple(files, list.skippedFolders);
    }, py::arg("folder"), py::arg("recursive") = false, py::arg("exclude") = std::vector<std::string>{},
       "The bar files `vlmstruct scan` would take from a folder, sorted: (paths, subfolders skipped).");
    m.def("scan_rows", [](const std::vector<std::string>& paths, const std::vector<std::string>& names,
                          bool allowNoDates) {
        if (names.size() != paths.size()) throw py::value_error("one name per path is needed");
        std::vector<std::string> lines(paths.size()), errors(paths.size());
        {
            py::gil_scoped_release unlocked;
            for (std::size_t k = 0; k < paths.size(); ++k) {
                const vlmstruct::ScanRow row = vlmstruct::scanFile(paths[k], names[k], {.allowNoDates = allowNoDates});
                lines[k] = scanLine(row);
                errors[k] = row.error;
            }
        }
        return py::make_tuple(scanHeader(), lines, errors);
    }, py::arg("paths"), py::arg("names"), py::arg("allow_no_dates") = false,
       "Each file scanned as `vlmstruct scan` scans it: (header, one summary line per file, each file's "
       "error or '').");
    m.def("scan_error_row", [](const std::string& name, const std::string& error) {
        vlmstruct::ScanRow row;
        row.file = name;
        row.error = error;
        return scanLine(row);
    }, py::arg("name"), py::arg("error"), "The summary line of a file that could not be scanned.");
}

}  // namespace vlmcore
