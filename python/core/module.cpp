// The Python face of the engine: the nine functions on numpy arrays, the
// pivot zones as records, and the bar file reader and the rules bars meet,
// shared with the command-line tool. The GIL is released while the core computes.
#include <pybind11/pybind11.h>

#include "barfile/bar_file_error.h"
#include "parts.h"

namespace py = pybind11;

PYBIND11_MODULE(_core, m) {
    m.doc() = "The plug-in's nine functions, bit for bit, on numpy arrays";
    m.attr("__version__") = VLM_VERSION;
    // Bad input is a ValueError, naming the file, line, column and text.
    py::register_exception<vlmstruct::BarFileError>(m, "BarFileError", PyExc_ValueError);

    vlmcore::addBarFiles(m);
    vlmcore::addFunctions(m);
    vlmcore::addResample(m);
    vlmcore::addAnalysis(m);
    vlmcore::addLevels(m);
    vlmcore::addReplay(m);
    vlmcore::addScan(m);
    vlmcore::addReplayFile(m);
    vlmcore::addEvaluation(m);
    vlmcore::addStream(m);
}
