#pragma once
// Series handed over from Python as the engine reads them, and vectors handed
// back as numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kline/bar_count.h"

namespace vlmcore {

namespace py = pybind11;

// Any numeric dtype is converted to float32, as the host hands the plug-in
// floats; volumes to float64, so that their sums are exact.
template <typename T>
using ArrayOf = py::array_t<T, py::array::c_style | py::array::forcecast>;
using FloatArray = ArrayOf<float>;

// A series converted to contiguous float32 (float64), with the view the core reads.
template <typename T>
struct SeriesOf {
    ArrayOf<T> values;
    std::span<const T> span;
};
using Series = SeriesOf<float>;

// The length is checked before anything is converted, so an oversized
// series is refused without being copied.
template <typename T = float>
inline SeriesOf<T> series(const py::object& given, const char* what, py::ssize_t length) {
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
    ArrayOf<T> values = ArrayOf<T>::ensure(a);
    if (!values) throw py::error_already_set();
    const std::span<const T> span(values.data(), bars);
    return {std::move(values), span};
}

// A vector's buffer handed to numpy as it is: the array owns the vector.
template <typename T>
py::array_t<T> owning(std::vector<T>&& values) {
    if (values.empty()) return py::array_t<T>(0);
    auto owner = std::make_unique<std::vector<T>>(std::move(values));
    const auto size = static_cast<py::ssize_t>(owner->size());
    T* data = owner->data();
    const py::capsule keep(owner.get(), [](void* p) { std::unique_ptr<std::vector<T>>(static_cast<std::vector<T>*>(p)); });
    owner.release();
    return py::array_t<T>(size, data, keep);
}

// An absent column (None) is an empty span.
template <typename T = float>
SeriesOf<T> optionalSeries(const py::object& given, const char* what, py::ssize_t length) {
    if (given.is_none()) return {};
    return series<T>(given, what, length);
}

// Highs and lows of one length, and closes of that length or none (None).
struct Prices {
    Series high, low, close;
};

inline Prices pricesOf(const py::object& high, const py::object& low, const py::object& close) {
    Series hs = series(high, "high", -1);
    const auto n = static_cast<py::ssize_t>(hs.span.size());
    Series ls = series(low, "low", n);
    return {std::move(hs), std::move(ls), optionalSeries(close, "close", n)};
}

inline py::object orNone(const std::optional<std::size_t>& v) { return v ? py::object(py::int_(*v)) : py::none(); }

inline py::array_t<float> floats(const std::vector<float>& v) {
    py::array_t<float> out(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

}  // namespace vlmcore
