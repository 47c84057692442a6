// The Python face of the engine: the nine functions on numpy arrays, the
// pivot zones as records, and the bar file reader and the rules bars meet,
// shared with the command-line tool. The GIL is released while the core computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "barfile/bar_file.h"
#include "analysis/levels.h"
#include "barfile/output_files.h"
#include "analysis/replay_files.h"
#include "analysis/scan.h"
#include "functions/series_functions.h"
#include "kline/bar_count.h"
#include "levels/resample.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "points/point_replay.h"
#include "points/trading_points.h"
#include "stream/replay.h"

namespace py = pybind11;

namespace {

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
SeriesOf<T> series(const py::object& given, const char* what, py::ssize_t length) {
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

FloatArray run(const vlm::SeriesFunction& f, const py::object* signal, const py::object& high,
               const py::object& low) {
    const Series hs = series(high, "high", -1);
    const auto h = hs.span;
    const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
    const auto l = ls.span;
    const Series ss = signal ? series(*signal, "signal", static_cast<py::ssize_t>(h.size())) : Series{};
    const auto s = ss.span;
    FloatArray out(static_cast<py::ssize_t>(h.size()));
    const std::span<float> o(out.mutable_data(), h.size());
    {
        py::gil_scoped_release unlocked;
        f.run({s, h, l}, o);
    }
    return out;
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

// Rows of numbers gathered column by column, as the data frames hold them:
// prices as the float32 they are, bars, counts and codes as float64 so that
// a missing value is NaN, which compares false in a backtest's conditions.
class NumberColumns {
public:
    NumberColumns(std::span<const vlm::Column> columns, std::size_t rows)
        : columns_(columns), wide_(columns.size()), narrow_(columns.size()) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            if (isPrice(k)) narrow_[k].reserve(rows);
            else wide_[k].reserve(rows);
        }
    }

    void push(std::span<const double> values) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            if (isPrice(k)) narrow_[k].push_back(static_cast<float>(values[k]));
            else wide_[k].push_back(values[k]);
        }
    }

    // Adds each column to `out` under its name, in column order.
    void moveInto(py::dict& out) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const std::string name(columns_[k].name);
            if (isPrice(k)) out[name.c_str()] = owning(std::move(narrow_[k]));
            else out[name.c_str()] = owning(std::move(wide_[k]));
        }
    }

private:
    [[nodiscard]] bool isPrice(std::size_t k) const { return columns_[k].kind == vlm::ColumnKind::Price; }

    std::span<const vlm::Column> columns_;
    std::vector<std::vector<double>> wide_;
    std::vector<std::vector<float>> narrow_;
};

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
py::array namesColumn(const std::vector<std::uint8_t>& codes, const std::vector<std::string>& names) {
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

// The replay written straight into the data frames' columns, bar by bar,
// with no log kept: the as-of columns (the structures', then the points'),
// and the events, structures' first within a bar, as the tool's files list
// them.
struct ReplayColumns {
    std::vector<vlm::Column> asOfColumns, eventColumns;
    NumberColumns asOf, events;
    std::vector<std::uint8_t> subjects, kinds;
    TextColumn texts;
    std::vector<double> values;  // one row, either kind

    static std::vector<vlm::Column> joined(std::span<const vlm::Column> a, std::span<const vlm::Column> b) {
        std::vector<vlm::Column> out(a.begin(), a.end());
        out.insert(out.end(), b.begin(), b.end());
        return out;
    }

    // Texts kept as C++ strings at most: a few megabytes.
    static constexpr std::size_t kTextsPerFlush = 1 << 16;

    // The subject codes: the structures' subjects, then the points'.
    static constexpr auto kPointSubjectCode = static_cast<std::uint8_t>(vlm::EventSubject::PivotUnderWay) + 1;

    static std::vector<std::string> subjectNames() {
        std::vector<std::string> names;
        for (std::uint8_t s = 0; s < kPointSubjectCode; ++s) {
            names.emplace_back(vlm::subjectName(static_cast<vlm::EventSubject>(s)));
        }
        names.emplace_back(vlm::kPointSubject);
        return names;
    }

    static std::vector<std::string> kindNames() {
        std::vector<std::string> names;
        for (int k = 0; k <= static_cast<int>(vlm::EventKind::Extended); ++k) {
            names.emplace_back(vlm::kindName(static_cast<vlm::EventKind>(k)));
        }
        return names;
    }

    ReplayColumns(const ReplayColumns&) = delete;  // the columns view the names above
    ReplayColumns& operator=(const ReplayColumns&) = delete;

    explicit ReplayColumns(std::size_t bars)
        : asOfColumns(joined(vlm::AsOfColumns(), vlm::PointAsOfColumns())),
          eventColumns(joined(vlm::EventColumns(), vlm::PointEventColumns())),
          asOf(asOfColumns, bars),
          // About two changes a bar on random walks; more only costs a reallocation.
          events(eventColumns, 2 * bars + 16),
          values(std::max(asOfColumns.size(), eventColumns.size())) {}

    void add(const vlm::ReplayedBar& bar) {
        const std::size_t structureColumns = vlm::AsOfColumns().size();
        const std::span<double> row(values.data(), asOfColumns.size());
        vlm::AsOfValues(bar.row, row.first(structureColumns));
        vlm::PointAsOfValues(bar.point, row.subspan(structureColumns));
        asOf.push(row);
        const std::span<double> event(values.data(), eventColumns.size());
        for (const vlm::ReplayEvent& e : bar.events) {
            vlm::StructureEventValues(e, event);
            events.push(event);
            subjects.push_back(static_cast<std::uint8_t>(e.subject));
            kinds.push_back(static_cast<std::uint8_t>(e.kind));
            texts.push(vlm::describe(e));
        }
        for (const vlm::PointReplayEvent& e : bar.pointEvents) {
            vlm::PointEventValues(e, event);
            events.push(event);
            subjects.push_back(kPointSubjectCode);
            kinds.push_back(static_cast<std::uint8_t>(e.kind));
            texts.push(vlm::describe(e));
        }
        if (texts.pending() >= kTextsPerFlush) {
            py::gil_scoped_acquire held;
            texts.flush();
        }
    }

    // ({as-of column: array}, {event column: array}): the events' bar first,
    // then subject and event, the other numbers, and the text last.
    py::tuple take() {
        py::dict asOfOut, eventsOut, numbers;
        asOf.moveInto(asOfOut);
        events.moveInto(numbers);
        eventsOut["bar"] = numbers["bar"];
        eventsOut["subject"] = namesColumn(subjects, subjectNames());
        eventsOut["event"] = namesColumn(kinds, kindNames());
        for (const auto& [name, column] : numbers) {
            if (name.cast<std::string>() != "bar") eventsOut[name] = column;
        }
        eventsOut["text"] = texts.take();
        return py::make_tuple(asOfOut, eventsOut);
    }
};

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

Prices pricesOf(const py::object& high, const py::object& low, const py::object& close) {
    Series hs = series(high, "high", -1);
    const auto n = static_cast<py::ssize_t>(hs.span.size());
    Series ls = series(low, "low", n);
    return {std::move(hs), std::move(ls), optionalSeries(close, "close", n)};
}

py::object orNone(const std::optional<std::size_t>& v) { return v ? py::object(py::int_(*v)) : py::none(); }

// Dates as datetime64[ns] integers (NaT, the smallest integer, is no date)
// or as text the reader would take.
py::dict dateOrder(const py::object& given) {
    std::optional<std::size_t> bad;
    vlmstruct::DateOrder order;
    if (py::isinstance<py::array>(given) && py::array(given.cast<py::array>()).dtype().kind() == 'i') {
        const auto keys = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(given);
        if (!keys) throw py::error_already_set();
        const std::span<const std::int64_t> span(keys.data(), static_cast<std::size_t>(keys.size()));
        const auto nat = std::find(span.begin(), span.end(), std::numeric_limits<std::int64_t>::min());
        if (nat != span.end()) bad = static_cast<std::size_t>(nat - span.begin());
        if (!bad) order = vlmstruct::orderByDate(span);
    } else {
        const auto texts = given.cast<std::vector<std::string>>();
        std::vector<std::string> keys;
        keys.reserve(texts.size());
        for (std::size_t r = 0; r < texts.size() && !bad; ++r) {
            const auto date = vlmstruct::parseDateTime(texts[r]);
            if (date) {
                keys.push_back(date->key());
            } else {
                bad = r;
            }
        }
        if (!bad) order = vlmstruct::orderByDate(std::span<const std::string>(keys));
    }
    py::object positions = py::none();
    if (!order.order.empty()) {
        py::array_t<std::int64_t> out(static_cast<py::ssize_t>(order.order.size()));
        std::copy(order.order.begin(), order.order.end(), out.mutable_data());
        positions = out;
    }
    py::object duplicate = py::none();
    if (order.duplicate) duplicate = py::make_tuple(order.duplicate->first, order.duplicate->second);
    return py::dict(py::arg("order") = positions, py::arg("duplicate") = duplicate, py::arg("bad") = orNone(bad));
}

// One scan row as the tool's summary writes it, without the header.
std::string scanLine(const vlmstruct::ScanRow& row) {
    const std::string text = vlmstruct::scanCsv({row});
    return text.substr(text.find('\n') + 1);
}

std::string scanHeader() {
    const std::string text = vlmstruct::scanCsv({});
    return text.substr(0, text.find('\n') + 1);
}

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

py::object orNaNObject(bool present, double v) { return present ? py::object(py::float_(v)) : py::none(); }

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

// A level's bars as resample returns them: time in seconds of civil time,
// the series as float32 (None where absent), the base bars each holds.
py::dict levelBarsDict(vlm::levels::LevelBars&& bars) {
    const auto series = [](auto& v) -> py::object {
        if (v.empty()) return py::none();
        return owning(std::move(v));
    };
    py::dict d;
    d["time"] = owning(std::move(bars.time));
    d["open"] = series(bars.open);
    d["high"] = series(bars.high);
    d["low"] = series(bars.low);
    d["close"] = series(bars.close);
    d["volume"] = series(bars.volume);
    d["first_base"] = owning(std::move(bars.firstBase));
    d["last_base"] = owning(std::move(bars.lastBase));
    d["last_unfinished"] = bars.lastUnfinished;
    return d;
}

// One row per higher-level structure: the base bars it covers, and the
// lower level's structures inside it as (first, count) of their lists.
py::dict structureLinksDict(const std::vector<vlm::levels::StructureLink>& links) {
    using Range = vlm::levels::IndexRange vlm::levels::Inside::*;
    constexpr std::pair<const char*, Range> kInside[] = {{"strokes", &vlm::levels::Inside::strokes},
                                                         {"segments", &vlm::levels::Inside::segments},
                                                         {"pivots", &vlm::levels::Inside::pivots},
                                                         {"points", &vlm::levels::Inside::points}};
    std::vector<std::int64_t> first, last;
    for (const auto& l : links) {
        first.push_back(l.base.first);
        last.push_back(l.base.last);
    }
    py::dict d;
    d["base_first"] = owning(std::move(first));
    d["base_last"] = owning(std::move(last));
    for (const auto& [name, range] : kInside) {
        std::vector<std::int64_t> at, count;
        for (const auto& l : links) {
            at.push_back((l.inside.*range).first);
            count.push_back((l.inside.*range).count);
        }
        d[(std::string(name) + "_first").c_str()] = owning(std::move(at));
        d[(std::string(name) + "_count").c_str()] = owning(std::move(count));
    }
    return d;
}

py::dict linksDict(const vlm::levels::LevelLinks& links) {
    std::vector<std::int64_t> baseBars, lower;
    for (const auto& m : links.strokeEnds) {
        baseBars.push_back(m.baseBar);
        lower.push_back(m.lower ? *m.lower : -1);
    }
    py::list confirmations;
    for (const auto& c : links.confirmations) confirmations.append(py::cast(c));
    return py::dict(py::arg("strokes") = structureLinksDict(links.strokes),
                    py::arg("segments") = structureLinksDict(links.segments),
                    py::arg("pivots") = structureLinksDict(links.pivots),
                    py::arg("points") = structureLinksDict(links.points),
                    py::arg("stroke_ends") = py::dict(py::arg("base_bar") = owning(std::move(baseBars)),
                                                      py::arg("lower") = owning(std::move(lower))),
                    py::arg("confirmations") = confirmations);
}

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

vlm::levels::ResampleOptions resampleOptions(const std::string& bins, long sessionGapMinutes) {
    if (bins != "session" && bins != "clock") throw py::value_error("bins must be 'session' or 'clock'");
    return {bins == "clock" ? vlm::levels::Bins::Clock : vlm::levels::Bins::Session,
            static_cast<vlm::levels::Seconds>(sessionGapMinutes) * 60};
}

py::array_t<float> floats(const std::vector<float>& v) {
    py::array_t<float> out(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The plug-in's nine functions, bit for bit, on numpy arrays";
    m.attr("__version__") = VLM_VERSION;
    // Bad input is a ValueError, naming the file, line, column and text.
    py::register_exception<vlmstruct::BarFileError>(m, "BarFileError", PyExc_ValueError);

    m.def("read_bars", [](const std::string& path, bool allowNoDates) {
        vlmstruct::ReadReport report;
        vlmstruct::BarSeries bars;
        {
            py::gil_scoped_release unlocked;
            bars = vlmstruct::readBarFile(path, &report, {.allowNoDates = allowNoDates});
        }
        py::dict columns;
        const std::pair<const char*, const std::vector<float>*> named[] = {
            {"open", &bars.open}, {"high", &bars.high}, {"low", &bars.low}, {"close", &bars.close}};
        for (const auto& [name, values] : named) {
            if (!values->empty()) columns[name] = floats(*values);
        }
        if (!bars.volume.empty()) columns["volume"] = owning(std::move(bars.volume));
        return py::dict(py::arg("columns") = columns,
                        py::arg("dates") = report.noDates ? py::object(py::none()) : py::cast(bars.dates),
                        py::arg("reordered") = report.reordered, py::arg("encoding") = report.encoding);
    }, py::arg("path"), py::arg("allow_no_dates") = false,
       "Reads a bar file as the command-line tool does: {columns, dates, reordered, encoding}.");
    m.def("column_roles", [](const std::vector<std::string>& names) {
        std::vector<std::string> roles;
        for (const std::string& n : names) roles.emplace_back(vlmstruct::roleName(vlmstruct::columnOf(n)));
        return roles;
    }, py::arg("names"), "What each column name holds: date, time, open, high, low, close, volume or ''.");
    m.def("check_prices", [](const py::object& open, const py::object& high, const py::object& low,
                             const py::object& close) -> py::object {
        const Series hs = series(high, "high", -1);
        const auto n = static_cast<py::ssize_t>(hs.span.size());
        const Series ls = series(low, "low", n), os = optionalSeries(open, "open", n),
                     cs = optionalSeries(close, "close", n);
        const auto problem =
            vlmstruct::checkPrices({.open = os.span, .high = hs.span, .low = ls.span, .close = cs.span});
        if (!problem) return py::none();
        return py::make_tuple(problem->row, vlmstruct::roleName(problem->column), problem->what);
    }, py::arg("open"), py::arg("high"), py::arg("low"), py::arg("close"),
       "The first bar that breaks the price rules, as (row, column, what), or None.");
    m.def("date_order", &dateOrder, py::arg("dates"),
          "Dates checked and ordered: {order (positions, None when ascending), duplicate (earlier, later) "
          "or None, bad (the first position that is no date) or None}.");
    for (const vlm::SeriesFunction& f : vlm::kSeriesFunctions) {
        const std::string name(f.name);
        const std::string doc = "Function " + std::to_string(f.number) + " (" + name +
                                "): returns a float32 array of one value per bar.";
        if (f.inputs == vlm::InputLayout::HighLow) {
            m.def(name.c_str(), [&f](const py::object& high, const py::object& low) {
                return run(f, nullptr, high, low);
            }, py::arg("high"), py::arg("low"), doc.c_str());
        } else {
            m.def(name.c_str(), [&f](const py::object& signal, const py::object& high, const py::object& low) {
                return run(f, &signal, high, low);
            }, py::arg("signal"), py::arg("high"), py::arg("low"), doc.c_str());
        }
    }
    m.def("function_names", [] {
        std::vector<std::string> names;
        for (const auto& f : vlm::kSeriesFunctions) names.emplace_back(f.name);
        return names;
    }, "The nine output names, in function order.");
    m.def("pivot_zones", [](const py::object& signal, const py::object& high, const py::object& low,
                            bool includeOpen) {
        const Series hs = series(high, "high", -1);
        const auto h = hs.span;
        const Series ls = series(low, "low", static_cast<py::ssize_t>(h.size()));
        const auto l = ls.span;
        const Series ss = series(signal, "signal", static_cast<py::ssize_t>(h.size()));
        const auto s = ss.span;
        vlm::ZhongShuList closed, all;
        {
            py::gil_scoped_release unlocked;
            closed = vlm::CalcPivotList(s, h, l);
            all = includeOpen ? vlm::CalcPivotList(s, h, l, {.includeOpenPivot = true}) : closed;
        }
        return zoneDicts(all, closed.size());
    }, py::arg("signal"), py::arg("high"), py::arg("low"), py::arg("include_open") = false,
       "Pivot zones as dicts: start, end, upper, lower, trend, run_count, open.");
    m.def("resample", [](const py::object& time, const py::object& open, const py::object& high,
                         const py::object& low, const py::object& close, const py::object& volume,
                         const std::string& level, const std::string& bins, long sessionGapMinutes) {
        const auto period = vlm::levels::ParsePeriod(level);
        if (!period) throw py::value_error(vlm::levels::PeriodProblem(level));
        const vlm::levels::ResampleOptions options = resampleOptions(bins, sessionGapMinutes);
        const BaseInput in(time, open, high, low, close, volume);
        vlm::levels::LevelBars out;
        {
            py::gil_scoped_release unlocked;
            out = vlm::levels::Resample(
                {in.time(), in.open.span, in.high.span, in.low.span, in.close.span, in.volume.span}, *period, options);
        }
        py::dict d = levelBarsDict(std::move(out));
        d["intraday"] = period->unit == vlm::levels::Period::Unit::Minute;
        return d;
    }, py::arg("time"), py::arg("open"), py::arg("high"), py::arg("low"), py::arg("close"), py::arg("volume"),
       py::arg("level"), py::arg("bins") = "session", py::arg("session_gap_minutes") = 0,
       "Higher-level bars: time in seconds of civil time, series as float32 (None where absent), intraday "
       "(bars dated by time, not by day).");
    m.def("trading_points", [](const py::object& high, const py::object& low, const py::object& close,
                               const std::vector<int>& macd, const std::string& force, int class1MinRun,
                               double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const Prices prices = pricesOf(high, low, close);
        std::vector<vlm::TradingPoint> points;
        {
            py::gil_scoped_release unlocked;
            points = vlm::CalcTradingPoints(prices.high.span, prices.low.span, prices.close.span, options);
        }
        py::list out;
        for (const vlm::TradingPoint& p : points) out.append(pointDict(p));
        return out;
    }, py::arg("high"), py::arg("low"), py::arg("close") = py::none(), py::arg("macd") = std::vector<int>{12, 26, 9},
       py::arg("force") = "area", py::arg("class1_min_run") = 2, py::arg("divergence_ratio") = 1.0,
       "Trading points in bar order as dicts (side, label, classes, bar, price, pivot_*, forces, follows_bar); "
       "without closes (None) the mid-price (high + low) / 2.");
    m.def("analyze", [](const py::object& high, const py::object& low, const py::object& close, bool includeOpen,
                        const std::vector<int>& macd, const std::string& force, int class1MinRun,
                        double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const Prices prices = pricesOf(high, low, close);
        vlmstruct::Analysis a;
        {
            py::gil_scoped_release unlocked;
            a = vlmstruct::analyse(prices.high.span, prices.low.span, prices.close.span, options);
        }
        return analysisDict(std::move(a), includeOpen);
    }, py::arg("high"), py::arg("low"), py::arg("close") = py::none(), py::arg("include_open") = false,
       py::arg("macd") = std::vector<int>{12, 26, 9}, py::arg("force") = "area", py::arg("class1_min_run") = 2,
       py::arg("divergence_ratio") = 1.0,
       "The nine outputs and the structures behind them: {columns, trading_point, zones, strokes, segments, "
       "points}.");
    m.def("analyze_levels", [](const py::object& time, const py::object& open, const py::object& high,
                               const py::object& low, const py::object& close, const py::object& volume,
                               const std::string& levels, const std::string& bins, long sessionGapMinutes,
                               bool includeOpen, const std::vector<int>& macd, const std::string& force,
                               int class1MinRun, double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        std::vector<vlm::levels::Period> periods;
        try {
            periods = vlmstruct::parseLevels(levels);
        } catch (const vlmstruct::UsageError& e) {
            const std::string message = e.what();
            throw py::value_error(message.substr(message.find(' ') + 1));  // without the option's name
        }
        const vlm::levels::ResampleOptions resample = resampleOptions(bins, sessionGapMinutes);
        const BaseInput in(time, open, high, low, close, volume);
        const auto vector = [](const auto& s) { return std::vector(s.span.begin(), s.span.end()); };
        vlmstruct::BarSeries base;
        base.open = vector(in.open);
        base.high = vector(in.high);
        base.low = vector(in.low);
        base.close = vector(in.close);
        base.volume = vector(in.volume);
        vlmstruct::Levels all;
        {
            py::gil_scoped_release unlocked;
            all = vlmstruct::analyseLevels(base, in.time(), periods, resample, options, includeOpen);
        }
        py::list out;
        for (std::size_t k = 0; k < all.levels.size(); ++k) {
            vlmstruct::Level& level = all.levels[k];
            const bool intraday = k == 0 || level.period.unit == vlm::levels::Period::Unit::Minute;
            py::dict bars = levelBarsDict(std::move(level.resampled));
            bars["intraday"] = intraday;
            py::dict d;
            d["name"] = k == 0 ? std::string("base") : vlm::levels::PeriodName(level.period);
            d["bars"] = bars;
            d["analysis"] = analysisDict(std::move(level.analysis), includeOpen);
            out.append(d);
        }
        py::list links;
        for (const vlm::levels::LevelLinks& l : all.links) links.append(linksDict(l));
        return py::make_tuple(out, links);
    }, py::arg("time"), py::arg("open"), py::arg("high"), py::arg("low"), py::arg("close"), py::arg("volume"),
       py::arg("levels"), py::arg("bins") = "session", py::arg("session_gap_minutes") = 0,
       py::arg("include_open") = false, py::arg("macd") = std::vector<int>{12, 26, 9}, py::arg("force") = "area",
       py::arg("class1_min_run") = 2, py::arg("divergence_ratio") = 1.0,
       "Every level analysed as analyze analyses its bars, finest (the base) first, and the links of each "
       "level to the one below: ([{name, bars, analysis}], [links of level k + 1 over level k]).");
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

    // The tool's scan and replay, file by file, for the distributed helpers:
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
