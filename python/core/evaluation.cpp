// The evaluation for the module: one series or one bar file evaluated by the
// tool's routine, as plain data (lists and arrays) that pickles, so a Dask
// worker's result comes back whole; and the statistics pooled from them.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/evaluation_files.h"
#include "analysis_dicts.h"
#include "arrays.h"
#include "parts.h"

namespace vlmcore {

using vlmstruct::EvaluatedFile;
using vlmstruct::ReadOptions;

namespace {

using vlm::FileEvaluation;
using vlm::Signal;

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
    py::array_t<T> out(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

py::dict equityStats(const vlm::EquityStats& s) {
    py::dict d;
    d["total_return"] = s.totalReturn;
    d["annual_return"] = s.annualReturn;
    d["volatility"] = s.volatility;
    d["sharpe"] = s.sharpe;
    d["max_drawdown"] = s.maxDrawdown;
    d["exposure"] = s.exposure;
    d["trades"] = s.trades;
    return d;
}

py::dict curve(const vlm::EquityCurve& c) {
    py::dict d;
    d["value"] = array(c.value);
    d["stats"] = equityStats(c.stats);
    return d;
}

py::dict signalColumns(const FileEvaluation& e) {
    std::vector<std::int8_t> mode, side, pointClass, final;
    std::vector<std::int32_t> pointBar, signalBar, entryBar, withdrawnBar;
    std::vector<double> entryPrice, ret, mfe, mae;
    py::list label;
    for (std::size_t k = 0; k < e.signals.size(); ++k) {
        const Signal& s = e.signals[k];
        mode.push_back(s.mode == vlm::SignalMode::Live ? 0 : 1);
        side.push_back(static_cast<std::int8_t>(s.side));
        pointClass.push_back(s.pointClass);
        label.append(vlm::ClassLabel(s.side, s.pointClass));
        pointBar.push_back(s.pointBar);
        signalBar.push_back(s.signalBar);
        entryBar.push_back(s.entryBar);
        entryPrice.push_back(s.entryPrice);
        withdrawnBar.push_back(s.withdrawnBar);
        final.push_back(s.final ? 1 : 0);
        for (const vlm::Outcome& o : e.outcomesOf(k)) {
            ret.push_back(o.ret);
            mfe.push_back(o.mfe);
            mae.push_back(o.mae);
        }
    }
    py::dict d;
    d["mode"] = array(mode);
    d["side"] = array(side);
    d["point_class"] = array(pointClass);
    d["label"] = label;
    d["point_bar"] = array(pointBar);
    d["signal_bar"] = array(signalBar);
    d["entry_bar"] = array(entryBar);
    d["entry_price"] = array(entryPrice);
    d["withdrawn_bar"] = array(withdrawnBar);
    d["final"] = array(final);
    d["ret"] = array(ret);
    d["mfe"] = array(mfe);
    d["mae"] = array(mae);
    return d;
}

py::dict asData(const FileEvaluation& e) {
    py::dict d;
    d["bars"] = e.bars;
    d["horizons"] = e.horizons;
    d["cost_bp"] = e.costBp;
    d["signals"] = signalColumns(e);
    std::vector<double> sums;
    std::vector<std::int64_t> counts;
    for (const vlm::BaselineSum& b : e.baseline) {
        sums.push_back(b.sum);
        counts.push_back(b.count);
    }
    d["baseline_sum"] = array(sums);
    d["baseline_count"] = array(counts);
    py::dict equity;
    equity["live"] = curve(e.live);
    equity["hindsight"] = curve(e.hindsight);
    equity["buy_and_hold"] = curve(e.buyAndHold);
    d["equity"] = equity;
    return d;
}

template <typename T>
std::vector<T> values(const py::handle& h) {
    return h.cast<std::vector<T>>();
}

// The evaluation back from its data: what summarise needs of it.
FileEvaluation fromData(const py::handle& data) {
    const py::dict d = py::reinterpret_borrow<py::dict>(data);
    FileEvaluation e;
    e.bars = d["bars"].cast<std::int64_t>();
    e.horizons = values<int>(d["horizons"]);
    e.costBp = d["cost_bp"].cast<double>();
    const py::dict s = d["signals"];
    const auto mode = values<std::int8_t>(s["mode"]), side = values<std::int8_t>(s["side"]);
    const auto pointClass = values<std::int8_t>(s["point_class"]), final = values<std::int8_t>(s["final"]);
    const auto pointBar = values<std::int32_t>(s["point_bar"]), signalBar = values<std::int32_t>(s["signal_bar"]);
    const auto entryBar = values<std::int32_t>(s["entry_bar"]);
    const auto withdrawnBar = values<std::int32_t>(s["withdrawn_bar"]);
    const auto entryPrice = values<double>(s["entry_price"]);
    const auto ret = values<double>(s["ret"]), mfe = values<double>(s["mfe"]), mae = values<double>(s["mae"]);
    for (std::size_t k = 0; k < mode.size(); ++k) {
        e.signals.push_back({.mode = mode[k] == 0 ? vlm::SignalMode::Live : vlm::SignalMode::Hindsight,
                             .side = static_cast<vlm::PointSide>(side[k]),
                             .pointClass = pointClass[k],
                             .pointBar = pointBar[k],
                             .signalBar = signalBar[k],
                             .entryBar = entryBar[k],
                             .entryPrice = entryPrice[k],
                             .withdrawnBar = withdrawnBar[k],
                             .final = final[k] != 0});
    }
    if (ret.size() != e.signals.size() * e.horizons.size()) {
        throw py::value_error("an evaluation's outcomes do not match its signals and horizons");
    }
    for (std::size_t k = 0; k < ret.size(); ++k) e.outcomes.push_back({ret[k], mfe[k], mae[k]});
    const auto sums = values<double>(d["baseline_sum"]);
    const auto counts = values<std::int64_t>(d["baseline_count"]);
    for (std::size_t k = 0; k < sums.size() && k < counts.size(); ++k) e.baseline.push_back({sums[k], counts[k]});
    return e;
}

std::string classText(vlm::PointSide side, int pointClass) {
    return pointClass == 0 ? (side == vlm::PointSide::Buy ? "B" : "S") : vlm::ClassLabel(side, pointClass);
}

py::dict statistics(const vlm::Summary& summary) {
    py::list mode, cls, horizon, n;
    std::array<py::list, vlmstruct::kStatisticsColumns.size()> values;
    for (const vlm::StatisticsRow& r : summary.statistics) {
        mode.append(vlmstruct::modeName(r.mode));
        cls.append(classText(r.side, r.pointClass));
        horizon.append(r.horizon);
        n.append(r.n);
        const auto row = vlmstruct::statisticsValues(r);
        for (std::size_t j = 0; j < row.size(); ++j) values[j].append(row[j]);
    }
    py::dict d;
    d["mode"] = mode;
    d["class"] = cls;
    d["horizon"] = horizon;
    d["n"] = n;
    for (std::size_t j = 0; j < values.size(); ++j) d[vlmstruct::kStatisticsColumns[j]] = values[j];
    return d;
}

py::dict survival(const vlm::Summary& summary) {
    py::list cls, signals, shown, final, delay, withdrawal;
    for (const vlm::SurvivalRow& r : summary.survival) {
        cls.append(classText(r.side, r.pointClass));
        signals.append(r.signals);
        shown.append(r.shownAtEnd);
        final.append(r.finalShare);
        delay.append(r.medianDelay);
        withdrawal.append(r.medianBarsToWithdrawal);
    }
    py::dict d;
    d["class"] = cls;
    d["signals"] = signals;
    d["shown_at_end"] = shown;
    d["final"] = final;
    d["median_delay"] = delay;
    d["median_to_withdrawal"] = withdrawal;
    return d;
}

vlm::EvaluationOptions evaluationOptions(const std::vector<int>& horizons, double costBp,
                                         const vlm::TradingPointOptions& points) {
    vlm::EvaluationOptions options{.horizons = horizons, .costBp = costBp, .points = points};
    vlm::CheckEvaluationOptions(options);
    return options;
}

}  // namespace

void addEvaluation(py::module_& m) {
    m.def("evaluate", [](const py::object& open, const py::object& high, const py::object& low,
                         const py::object& close, const py::object& seconds, const std::vector<int>& horizons,
                         double costBp, const std::vector<int>& macd, const std::string& force, int class1MinRun,
                         double divergenceRatio) {
        const auto options = evaluationOptions(horizons, costBp, pointOptions(macd, force, class1MinRun, divergenceRatio));
        const Series hs = series(high, "high", -1);
        const auto bars = static_cast<py::ssize_t>(hs.span.size());
        const Series ls = series(low, "low", bars);
        const Series os = open.is_none() ? Series{} : series(open, "open", bars);
        const Series cs = close.is_none() ? Series{} : series(close, "close", bars);
        const SeriesOf<std::int64_t> ts = seconds.is_none() ? SeriesOf<std::int64_t>{}
                                                            : series<std::int64_t>(seconds, "seconds", bars);
        FileEvaluation e;
        {
            py::gil_scoped_release unlocked;
            e = vlm::Evaluate({.open = os.span, .high = hs.span, .low = ls.span, .close = cs.span, .time = ts.span,
                               .secondsPerTimeUnit = 1},
                              options);
        }
        return asData(e);
    }, py::arg("open"), py::arg("high"), py::arg("low"), py::arg("close"), py::arg("seconds"), py::arg("horizons"),
       py::arg("cost_bp"), py::arg("macd"), py::arg("force"), py::arg("class1_min_run"), py::arg("divergence_ratio"));

    m.def("evaluate_file", [](const std::string& path, const std::string& name, bool noDates,
                              const std::vector<int>& horizons, double costBp, const std::vector<int>& macd,
                              const std::string& force, int class1MinRun, double divergenceRatio) {
        const auto options = evaluationOptions(horizons, costBp, pointOptions(macd, force, class1MinRun, divergenceRatio));
        ReadOptions read;
        read.allowNoDates = noDates;
        EvaluatedFile f;
        {
            py::gil_scoped_release unlocked;
            f = vlmstruct::evaluateFile(path, name, read, options);
        }
        py::dict d;
        if (f.error.empty()) {
            d = asData(f.evaluation);
            py::list dates;
            for (std::size_t k = 0; k < f.bars.stamps.size(); ++k) dates.append(f.bars.date(k));
            d["dates"] = f.bars.hasDates() ? py::object(dates) : py::object(py::none());
        }
        d["file"] = name;
        d["error"] = f.error;
        return d;
    }, py::arg("path"), py::arg("name"), py::arg("no_dates"), py::arg("horizons"), py::arg("cost_bp"),
       py::arg("macd"), py::arg("force"), py::arg("class1_min_run"), py::arg("divergence_ratio"));

    m.def("summarise", [](const py::list& found) {
        std::vector<FileEvaluation> files;
        for (const py::handle& f : found) files.push_back(fromData(f));
        const vlm::Summary summary = vlm::Summarise(files);
        py::dict d;
        d["statistics"] = statistics(summary);
        d["survival"] = survival(summary);
        return d;
    }, py::arg("evaluations"));
}

}  // namespace vlmcore
