// Higher-level bars from a base series, and every level analysed and linked.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "analysis/levels.h"
#include "analysis_dicts.h"
#include "arrays.h"
#include "barfile/usage_error.h"
#include "levels/links.h"
#include "level_options.h"
#include "levels/resample.h"
#include "parts.h"

namespace vlmcore {

namespace py = pybind11;

namespace {

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

}  // namespace

vlm::levels::ResampleOptions resampleOptions(const std::string& bins, long sessionGapMinutes) {
    if (bins != "session" && bins != "clock") throw py::value_error("bins must be 'session' or 'clock'");
    // 0 is the default gap (None in the functions' keywords).
    if (sessionGapMinutes < 0 || sessionGapMinutes > vlm::levels::kMaxSessionGapMinutes) {
        throw py::value_error("session_gap must be from 1 to " + std::to_string(vlm::levels::kMaxSessionGapMinutes) +
                              " minutes, or None for the default; got " + std::to_string(sessionGapMinutes));
    }
    return {bins == "clock" ? vlm::levels::Bins::Clock : vlm::levels::Bins::Session,
            static_cast<vlm::levels::Seconds>(sessionGapMinutes) * 60};
}

std::vector<vlm::levels::Period> levelPeriods(const std::string& levels) {
    try {
        return vlmstruct::parseLevels(levels);
    } catch (const vlmstruct::UsageError& e) {
        const std::string message = e.what();
        throw py::value_error(message.substr(message.find(' ') + 1));  // without the option's name
    }
}

void addResample(py::module_& m) {
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
}

void addLevels(py::module_& m) {
    m.def("analyze_levels", [](const py::object& time, const py::object& open, const py::object& high,
                               const py::object& low, const py::object& close, const py::object& volume,
                               const std::string& levels, const std::string& bins, long sessionGapMinutes,
                               bool includeOpen, const std::vector<int>& macd, const std::string& force,
                               int class1MinRun, double divergenceRatio) {
        const vlm::TradingPointOptions options = pointOptions(macd, force, class1MinRun, divergenceRatio);
        const std::vector<vlm::levels::Period> periods = levelPeriods(levels);
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
}

}  // namespace vlmcore
