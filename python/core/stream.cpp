// The live stream: bars pushed one at a time (or a history loaded in one
// call), each answering with the events it made, in the replay's columns.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analysis_dicts.h"
#include "level_options.h"
#include "levels/resample.h"
#include "live/live_stream.h"
#include "parts.h"
#include "replay_frames.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

using vlm::live::BarColumns;

// The events' columns of one run of bars (see ReplayColumns::take).
py::object eventsOf(ReplayColumns& columns) { return columns.take()[1]; }

class LiveStream {
public:
    explicit LiveStream(const vlm::live::StreamOptions& options) { stream_.emplace(options); }
    explicit LiveStream(vlm::live::Stream&& restored) { stream_.emplace(std::move(restored)); }
    // A stream's state is not copied behind its owner's back.
    LiveStream(const LiveStream&) = delete;
    LiveStream& operator=(const LiveStream&) = delete;
    LiveStream(LiveStream&&) = default;
    LiveStream& operator=(LiveStream&&) = default;
    ~LiveStream() = default;

    // One bar, finished or still forming; an absent open, close or volume is None.
    py::object push(std::int64_t time, std::optional<double> open, double high, double low,
                    std::optional<double> close, std::optional<double> volume, bool forming) {
        const InUse use(busy_);
        fitColumns({open.has_value(), close.has_value(), volume.has_value()});
        const vlm::live::LiveBar bar{time, static_cast<float>(open.value_or(0.0)), static_cast<float>(high),
                                     static_cast<float>(low), static_cast<float>(close.value_or(0.0)),
                                     volume.value_or(0.0)};
        const vlm::live::BarEvents events = forming ? stream_->pushForming(bar) : stream_->push(bar);
        ReplayColumns columns(1, false);
        columns.addEvents(events.structures, events.points);
        return eventsOf(columns);
    }

    // Finished bars in one call, the loop here and without the GIL. A bar
    // refused leaves the stream as it was before the call: ValueError(what, row).
    py::object load(const py::object& time, const py::object& open, const py::object& high, const py::object& low,
                    const py::object& close, const py::object& volume) {
        const InUse use(busy_);
        const BaseInput in(time, open, high, low, close, volume);
        fitColumns({!open.is_none(), !close.is_none(), !volume.is_none()});
        const std::size_t n = in.high.span.size();
        // A stream with bars already is put back from its snapshot; an
        // empty one is made again.
        std::optional<std::vector<std::byte>> before;
        if (!empty()) before = vlm::live::Snapshot(*stream_);
        ReplayColumns columns(n, false);
        std::exception_ptr failure;
        std::size_t row = 0;
        {
            py::gil_scoped_release unlocked;
            const auto at = [](const auto& s, std::size_t i, auto none) { return s.span.empty() ? none : s.span[i]; };
            try {
                for (; row < n; ++row) {
                    const vlm::live::BarEvents events = stream_->push(
                        {in.time()[row], at(in.open, row, 0.0f), in.high.span[row], in.low.span[row],
                         at(in.close, row, 0.0f), at(in.volume, row, 0.0)});
                    columns.addEvents(events.structures, events.points);
                }
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (!failure) return eventsOf(columns);
        const vlm::live::StreamOptions options = stream_->options();
        if (before) {
            stream_.emplace(vlm::live::Restore(*before));
        } else {
            stream_.emplace(options);
        }
        try {
            std::rethrow_exception(failure);
        } catch (const std::invalid_argument& e) {
            PyErr_SetObject(PyExc_ValueError, py::make_tuple(e.what(), row).ptr());
            throw py::error_already_set();
        }
    }

    // The as-of row after the last bar: {column: value}, the replay's
    // columns, then each level's prefixed by its name.
    [[nodiscard]] py::dict asOf() const {
        const InUse use(busy_);
        const auto names = ReplayColumns::joined(vlm::AsOfColumns(), vlm::PointAsOfColumns());
        std::vector<double> values(names.size());
        py::dict out;
        const auto put = [&](const std::string& prefix) {
            for (std::size_t k = 0; k < names.size(); ++k) out[(prefix + std::string(names[k].name)).c_str()] = values[k];
        };
        ReplayColumns::asOfValues(stream_->asOf(), stream_->pointAsOf(), values);
        put("");
        const auto& periods = stream_->options().periods;
        const auto rows = stream_->levelRows();
        // The rows may start with the base level's, which the replay's columns show already.
        const std::size_t first = rows.size() - std::min(rows.size(), periods.size());
        for (std::size_t k = 0; k < periods.size(); ++k) {
            const bool present = first + k < rows.size() && rows[first + k].present;
            if (present) {
                ReplayColumns::asOfValues(rows[first + k].structures, rows[first + k].point, values);
            } else {
                std::fill(values.begin(), values.end(), std::numeric_limits<double>::quiet_NaN());
            }
            put(vlm::levels::PeriodName(periods[k]) + "_");
        }
        return out;
    }

    [[nodiscard]] py::bytes snapshot() const {
        const InUse use(busy_);
        const std::vector<std::byte> bytes = vlm::live::Snapshot(*stream_);
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }

    static LiveStream restore(const py::buffer& data) {
        const py::buffer_info info = data.request();
        const std::span<const std::byte> bytes(static_cast<const std::byte*>(info.ptr),
                                               static_cast<std::size_t>(info.size * info.itemsize));
        return LiveStream(vlm::live::Restore(bytes));
    }

    [[nodiscard]] std::size_t size() const {
        const InUse use(busy_);
        return stream_->size();
    }
    [[nodiscard]] bool forming() const {
        const InUse use(busy_);
        return stream_->forming();
    }
    // The optional columns the stream's bars carry.
    [[nodiscard]] std::vector<std::string> columns() const {
        const BarColumns& c = stream_->options().columns;
        std::vector<std::string> out;
        if (c.open) out.emplace_back("open");
        if (c.close) out.emplace_back("close");
        if (c.volume) out.emplace_back("volume");
        return out;
    }
    [[nodiscard]] std::vector<std::string> levels() const {
        std::vector<std::string> out;
        for (const auto& p : stream_->options().periods) out.push_back(vlm::levels::PeriodName(p));
        return out;
    }

private:
    // load runs without the GIL: every other call on the same stream
    // meanwhile is refused rather than left to race it.
    class InUse {
    public:
        explicit InUse(bool& busy) : busy_(busy) {
            if (busy_) throw std::runtime_error("the stream is loading bars in another thread");
            busy_ = true;
        }
        ~InUse() { busy_ = false; }
        InUse(const InUse&) = delete;
        InUse& operator=(const InUse&) = delete;

    private:
        bool& busy_;
    };

    [[nodiscard]] bool empty() const { return stream_->size() == 0 && !stream_->forming(); }

    // The first bar fixes which optional columns the stream carries; a later
    // bar without one of them is refused, one with more has them ignored.
    void fitColumns(const BarColumns& given) {
        vlm::live::StreamOptions options = stream_->options();
        if (empty()) {
            if (options.columns != given) {
                options.columns = given;
                stream_.emplace(options);
            }
            return;
        }
        const BarColumns& has = options.columns;
        const char* missing = has.open && !given.open     ? "an open"
                              : has.close && !given.close ? "a close"
                              : has.volume && !given.volume ? "a volume"
                                                            : nullptr;
        if (missing != nullptr) {
            throw vlm::live::BadBar(std::string("the stream's bars have ") + missing + "; this bar has none");
        }
    }

    std::optional<vlm::live::Stream> stream_;
    mutable bool busy_ = false;
};

}  // namespace

void addStream(py::module_& m) {
    py::class_<LiveStream>(m, "LiveStream", "vlm::live::Stream: see vlmstruct.Stream")
        .def(py::init([](const std::optional<std::string>& levels, const std::string& bins, long sessionGapMinutes,
                         const std::vector<int>& macd, const std::string& force, int class1MinRun,
                         double divergenceRatio) {
                 vlm::live::StreamOptions options;
                 options.points = pointOptions(macd, force, class1MinRun, divergenceRatio);
                 if (levels) options.periods = levelPeriods(*levels);
                 options.resample = resampleOptions(bins, sessionGapMinutes);
                 return LiveStream(options);
             }),
             py::arg("levels") = py::none(), py::arg("bins") = "session", py::arg("session_gap_minutes") = 0,
             py::arg("macd") = std::vector<int>{12, 26, 9}, py::arg("force") = "area", py::arg("class1_min_run") = 2,
             py::arg("divergence_ratio") = 1.0)
        .def("push", &LiveStream::push, py::arg("time"), py::arg("open"), py::arg("high"), py::arg("low"),
             py::arg("close"), py::arg("volume"), py::arg("forming") = false,
             "One bar (seconds of civil time; None for a column it lacks): its events as {column: array}.")
        .def("load", &LiveStream::load, py::arg("time"), py::arg("open"), py::arg("high"), py::arg("low"),
             py::arg("close"), py::arg("volume"),
             "Finished bars as arrays (None for a column they lack): their events as {column: array}. A bar "
             "refused raises ValueError(what, row) and leaves the stream as it was.")
        .def("asof", &LiveStream::asOf, "The as-of row after the last bar: {column: value}.")
        .def("snapshot", &LiveStream::snapshot)
        .def_static("restore", &LiveStream::restore, py::arg("data"))
        .def_property_readonly("size", &LiveStream::size)
        .def_property_readonly("forming", &LiveStream::forming)
        .def_property_readonly("columns", &LiveStream::columns)
        .def_property_readonly("levels", &LiveStream::levels);
}

}  // namespace vlmcore
