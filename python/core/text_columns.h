#pragma once
// Texts handed to Python as numpy object arrays.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vlmcore {

namespace py = pybind11;

// Texts gathered without the GIL into a buffer that is made Python strings,
// with the GIL, every so often: the buffer stays small.
class TextColumn {
public:
    void push(const std::string& text) {
        chars_ += text;
        ends_.push_back(chars_.size());
    }

    [[nodiscard]] std::size_t pending() const { return ends_.size(); }

    // With the GIL held.
    void flush() {
        std::size_t begin = 0;
        for (const std::size_t end : ends_) {
            auto text = py::reinterpret_steal<py::str>(
                PyUnicode_FromStringAndSize(chars_.data() + begin, static_cast<py::ssize_t>(end - begin)));
            if (!text) throw py::error_already_set();
            made_.append(text);
            begin = end;
        }
        chars_.clear();
        ends_.clear();
    }

    // With the GIL held: every text as a numpy object array.
    [[nodiscard]] py::array take() {
        flush();
        py::array out = objectArray(made_.size());
        auto** slots = static_cast<PyObject**>(out.mutable_data());
        for (std::size_t k = 0; k < made_.size(); ++k) {
            PyObject* text = PyList_GET_ITEM(made_.ptr(), static_cast<py::ssize_t>(k));
            Py_INCREF(text);
            Py_DECREF(slots[k]);
            slots[k] = text;
        }
        made_ = py::list();
        return out;
    }

    // A numpy object array of `n` Nones.
    static py::array objectArray(std::size_t n) {
        return py::module_::import("numpy").attr("empty")(n, py::arg("dtype") = "object");
    }

private:
    std::string chars_;
    std::vector<std::size_t> ends_;
    py::list made_;
};

// A column of a few names, one code per row: every row holds the one Python
// string of its name.
inline py::array namesColumn(const std::vector<std::uint8_t>& codes, const std::vector<std::string>& names) {
    std::vector<py::str> shown(names.begin(), names.end());
    py::array out = TextColumn::objectArray(codes.size());
    auto** slots = static_cast<PyObject**>(out.mutable_data());
    for (std::size_t k = 0; k < codes.size(); ++k) {
        PyObject* name = shown.at(codes[k]).inc_ref().ptr();
        Py_DECREF(slots[k]);
        slots[k] = name;
    }
    return out;
}

}  // namespace vlmcore
