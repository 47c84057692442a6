#pragma once
// Dated base bars and the levels' options as the module's functions take
// them, read in one place for every face with levels.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <span>
#include <string>
#include <vector>

#include "arrays.h"
#include "levels/resample.h"

namespace vlmcore {

namespace py = pybind11;

// Dated base bars as the module hands them over: seconds of civil time and
// float32 series and float64 volumes, open, close and volume optional.
struct BaseInput {
    using Times = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;
    Series open, high, low, close;
    SeriesOf<double> volume;
    Times times;

    BaseInput(const py::object& time, const py::object& o, const py::object& h, const py::object& l,
              const py::object& c, const py::object& v)
        : high(series(h, "high", -1)) {
        const auto n = static_cast<py::ssize_t>(high.span.size());
        low = series(l, "low", n);
        open = optionalSeries(o, "open", n);
        close = optionalSeries(c, "close", n);
        volume = optionalSeries<double>(v, "volume", n);
        times = Times::ensure(time);
        if (!times || times.ndim() != 1 || times.shape(0) != n) {
            throw py::value_error("time must hold one whole number of seconds per bar");
        }
    }
    [[nodiscard]] std::span<const vlm::levels::Seconds> time() const {
        return {times.data(), high.span.size()};
    }
};

// bins ('session' or 'clock') and the session gap in minutes (0: from the
// bars' interval); a bad value is a ValueError.
vlm::levels::ResampleOptions resampleOptions(const std::string& bins, long sessionGapMinutes);

// The levels as the tool's --levels lists them ("30min,day"); a bad one is
// a ValueError saying why.
std::vector<vlm::levels::Period> levelPeriods(const std::string& levels);

}  // namespace vlmcore
