#include "analysis/evaluation_files.h"

#include <array>
#include <cmath>
#include <type_traits>

#include "analysis/levels.h"

namespace vlmstruct {

namespace fs = std::filesystem;
using vlm::FileEvaluation;
using vlm::Signal;
using vlm::SignalMode;

FileEvaluation evaluateBars(const BarSeries& bars, const vlm::EvaluationOptions& options) {
    // The dates are read only for the equity's annualised figures.
    const std::vector<std::int64_t> seconds =
        options.equity == vlm::EquityDetail::None ? std::vector<std::int64_t>{} : barSeconds(bars);
    vlm::EvaluationSeries series{.open = bars.open, .high = bars.high, .low = bars.low, .close = bars.close,
                                 .time = seconds, .secondsPerTimeUnit = 1};
    return vlm::Evaluate(series, options);
}

EvaluatedFile evaluateFile(const fs::path& file, const std::string& name, const ReadOptions& read,
                           const vlm::EvaluationOptions& options, bool keepPrices) {
    EvaluatedFile out;
    out.name = name;
    try {
        ReadOptions packed = read;
        packed.packedDates = true;
        packed.keepVolume = false;  // nothing the evaluation shows reads them
        BarSeries bars = readBarFile(file, nullptr, packed);
        out.evaluation = evaluateBars(bars, options);
        if (keepPrices) {
            out.bars = std::move(bars);
        } else {
            out.bars.stamps = std::move(bars.stamps);
            out.bars.stampSeconds = bars.stampSeconds;
        }
    } catch (const std::exception& e) {
        out.error = e.what();
        out.evaluation = FileEvaluation{};
    }
    return out;
}

std::vector<EvaluatedFile> evaluateFiles(const fs::path& folder, const BarFileList& list, const ScanOptions& scan,
                                         const vlm::EvaluationOptions& options) {
    std::vector<EvaluatedFile> out(list.files.size());
    runFileJobs(list.files.size(), scan.jobs, scan.progress, [&](std::size_t k) {
        out[k] = evaluateFile(list.files[k], list.files[k].lexically_relative(folder).generic_string(), scan.read,
                              options);
        return FileOutcome{out[k].name, !out[k].error.empty()};
    });
    return out;
}

vlm::Summary summariseFiles(const std::vector<EvaluatedFile>& files) {
    std::vector<const FileEvaluation*> evaluated;
    for (const EvaluatedFile& f : files) {
        if (f.error.empty()) evaluated.push_back(&f.evaluation);
    }
    return vlm::Summarise(evaluated);
}

const char* modeName(SignalMode mode) { return mode == SignalMode::Live ? "live" : "hindsight"; }

namespace {

// A number that reads back as the same double; nothing where there is none.
void putNumber(TextSink& out, double v) {
    if (std::isfinite(v)) out.putJsonNumber(v);
}
// A price: the file's own digits where it is one of its 32-bit values.
void putPrice(TextSink& out, double v) {
    if (std::isfinite(v) && static_cast<double>(static_cast<float>(v)) == v) {
        out.putFloat(static_cast<float>(v));
    } else {
        putNumber(out, v);
    }
}
void putBar(TextSink& out, std::int32_t bar) {
    if (bar >= 0) out.putInt(bar);
}
void putCsvText(TextSink& out, const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) {
        out.put(s);
        return;
    }
    out.put('"');
    for (char c : s) c == '"' ? out.put("\"\"") : out.put(c);
    out.put('"');
}

void putSignalRow(TextSink& out, const EvaluatedFile& f, std::size_t k) {
    const Signal& s = f.evaluation.signals[k];
    putCsvText(out, f.name);
    out.put(',');
    out.put(modeName(s.mode));
    out.put(',');
    out.put(vlm::ClassLabel(s.side, s.pointClass));
    out.put(',');
    out.putInt(static_cast<int>(s.side));
    out.put(',');
    out.putInt(s.pointBar);
    out.put(',');
    out.putDate(f.bars, static_cast<std::size_t>(s.pointBar));
    out.put(',');
    out.putInt(s.signalBar);
    out.put(',');
    out.putDate(f.bars, static_cast<std::size_t>(s.signalBar));
    out.put(',');
    putBar(out, s.entryBar);
    out.put(',');
    putPrice(out, s.entryPrice);
    out.put(',');
    putBar(out, s.withdrawnBar);
    out.put(s.final ? ",1," : ",0,");
    out.putInt(s.delay());
    for (const vlm::Outcome& o : f.evaluation.outcomesOf(k)) {
        for (double v : {o.ret, o.mfe, o.mae}) {
            out.put(',');
            putNumber(out, v);
        }
    }
    out.put('\n');
    out.written();
}

}  // namespace

void writeSignalsCsv(TextSink& out, const std::vector<EvaluatedFile>& files, const std::vector<int>& horizons) {
    out.put("file,mode,class,side,point_bar,point_date,signal_bar,signal_date,entry_bar,entry_price,withdrawn_bar,"
            "final,delay");
    for (int h : horizons) {
        const std::string n = std::to_string(h);
        out.put(",ret_" + n + ",mfe_" + n + ",mae_" + n);
    }
    out.put('\n');
    for (const EvaluatedFile& f : files) {
        if (!f.error.empty()) continue;
        for (std::size_t k = 0; k < f.evaluation.signals.size(); ++k) putSignalRow(out, f, k);
    }
    out.flush();
}

namespace {

const char* classText(const vlm::StatisticsRow& r) { return r.side == vlm::PointSide::Buy ? "B" : "S"; }

std::string classOf(vlm::PointSide side, int pointClass) { return vlm::ClassLabel(side, pointClass); }


}  // namespace

std::array<double, kStatisticsColumns.size()> statisticsValues(const vlm::StatisticsRow& r) {
    return {r.mean, r.median, r.std, r.t, r.winRate, r.winLow, r.winHigh, r.mfe, r.mae, r.baseline, r.edge};
}

void writeSummaryCsv(TextSink& out, const vlm::Summary& summary) {
    out.put("mode,class,horizon,n");
    for (const char* name : kStatisticsColumns) {
        out.put(',');
        out.put(name);
    }
    out.put('\n');
    for (const vlm::StatisticsRow& r : summary.statistics) {
        out.put(modeName(r.mode));
        out.put(',');
        out.put(r.pointClass == 0 ? std::string(classText(r)) : classOf(r.side, r.pointClass));
        out.put(',');
        out.putInt(r.horizon);
        out.put(',');
        out.putInt(r.n);
        for (double v : statisticsValues(r)) {
            out.put(',');
            putNumber(out, v);
        }
        out.put('\n');
    }
    out.flush();
}

namespace {

void putJsonField(TextSink& out, const char* name, bool first = false) {
    if (!first) out.put(',');
    out.putJsonString(name);
    out.put(':');
}
void putTextField(TextSink& out, const char* name, std::string_view text, bool first = false) {
    putJsonField(out, name, first);
    out.putJsonString(text);
}
void putWholeField(TextSink& out, const char* name, long long v, bool first = false) {
    putJsonField(out, name, first);
    out.putInt(v);
}
void putNumberField(TextSink& out, const char* name, double v, bool first = false) {
    putJsonField(out, name, first);
    out.putJsonNumber(v);
}

void putEquityStats(TextSink& out, const vlm::EquityStats& s) {
    out.put('{');
    putNumberField(out, "total_return", s.totalReturn, true);
    putNumberField(out, "annual_return", s.annualReturn);
    putNumberField(out, "volatility", s.volatility);
    putNumberField(out, "sharpe", s.sharpe);
    putNumberField(out, "max_drawdown", s.maxDrawdown);
    putNumberField(out, "exposure", s.exposure);
    putWholeField(out, "trades", s.trades);
    out.put('}');
}

// A bar's date as a JSON string, null without dates.
void putJsonDate(TextSink& out, const BarSeries& bars, std::int32_t bar) {
    if (!bars.hasDates()) {
        out.put("null");
        return;
    }
    out.put('"');
    out.putDate(bars, static_cast<std::size_t>(bar));
    out.put('"');
}

void putRules(TextSink& out, const FileEvaluation& e) {
    out.put('{');
    putJsonField(out, "live", true);
    putEquityStats(out, e.live.stats);
    putJsonField(out, "hindsight");
    putEquityStats(out, e.hindsight.stats);
    putJsonField(out, "buy_and_hold");
    putEquityStats(out, e.buyAndHold.stats);
    out.put('}');
}

template <class Values>
void putArray(TextSink& out, const Values& values) {
    out.put('[');
    bool first = true;
    for (const auto& v : values) {
        if (!first) out.put(',');
        first = false;
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, float>) {
            out.putJsonNumber(v);  // the file's own digits, not the double's
        } else {
            out.putJsonNumber(static_cast<double>(v));
        }
    }
    out.put(']');
    out.written();
}

void putFiles(TextSink& out, const std::vector<EvaluatedFile>& files) {
    out.put('[');
    for (std::size_t k = 0; k < files.size(); ++k) {
        const EvaluatedFile& f = files[k];
        out.put(k ? ",\n{" : "\n{");
        putTextField(out, "file", f.name, true);
        putWholeField(out, "bars", f.evaluation.bars);
        putTextField(out, "error", f.error);
        if (f.error.empty()) {
            putJsonField(out, "equity");
            putRules(out, f.evaluation);
        }
        out.put('}');
    }
    out.put(']');
}

void putStatistics(TextSink& out, const vlm::Summary& summary) {
    out.put('[');
    for (std::size_t k = 0; k < summary.statistics.size(); ++k) {
        const vlm::StatisticsRow& r = summary.statistics[k];
        out.put(k ? ",\n{" : "\n{");
        putTextField(out, "mode", modeName(r.mode), true);
        putTextField(out, "class", r.pointClass == 0 ? std::string(classText(r)) : classOf(r.side, r.pointClass));
        putWholeField(out, "horizon", r.horizon);
        putWholeField(out, "n", r.n);
        const auto numbers = statisticsValues(r);
        for (std::size_t j = 0; j < numbers.size(); ++j) {
            putNumberField(out, kStatisticsColumns[j], numbers[j]);
        }
        out.put('}');
    }
    out.put(']');
}

void putSurvival(TextSink& out, const vlm::Summary& summary) {
    out.put('[');
    for (std::size_t k = 0; k < summary.survival.size(); ++k) {
        const vlm::SurvivalRow& r = summary.survival[k];
        out.put(k ? ",\n{" : "\n{");
        putTextField(out, "class", classOf(r.side, r.pointClass), true);
        putWholeField(out, "signals", r.signals);
        putNumberField(out, "shown_at_end", r.shownAtEnd);
        putNumberField(out, "final", r.finalShare);
        putNumberField(out, "median_delay", r.medianDelay);
        putNumberField(out, "median_to_withdrawal", r.medianBarsToWithdrawal);
        out.put('}');
    }
    out.put(']');
}

void putSignalObjects(TextSink& out, const std::vector<EvaluatedFile>& files) {
    out.put('[');
    bool first = true;
    for (const EvaluatedFile& f : files) {
        if (!f.error.empty()) continue;
        const FileEvaluation& e = f.evaluation;
        for (std::size_t k = 0; k < e.signals.size(); ++k) {
            const Signal& s = e.signals[k];
            out.put(first ? "\n{" : ",\n{");
            first = false;
            putTextField(out, "file", f.name, true);
            putTextField(out, "mode", modeName(s.mode));
            putTextField(out, "class", classOf(s.side, s.pointClass));
            putWholeField(out, "side", static_cast<int>(s.side));
            putWholeField(out, "point_bar", s.pointBar);
            putJsonField(out, "point_date");
            putJsonDate(out, f.bars, s.pointBar);
            putWholeField(out, "signal_bar", s.signalBar);
            putJsonField(out, "signal_date");
            putJsonDate(out, f.bars, s.signalBar);
            putJsonField(out, "entry_bar");
            s.entryBar >= 0 ? out.putInt(s.entryBar) : out.put("null");
            putJsonField(out, "entry_price");
            std::isfinite(s.entryPrice) ? putPrice(out, s.entryPrice) : out.put("null");
            putJsonField(out, "withdrawn_bar");
            s.withdrawnBar >= 0 ? out.putInt(s.withdrawnBar) : out.put("null");
            putWholeField(out, "final", s.final ? 1 : 0);
            putWholeField(out, "delay", s.delay());
            const auto outcomes = e.outcomesOf(k);
            for (std::size_t j = 0; j < outcomes.size(); ++j) {
                const std::string h = std::to_string(e.horizons[j]);
                putNumberField(out, ("ret_" + h).c_str(), outcomes[j].ret);
                putNumberField(out, ("mfe_" + h).c_str(), outcomes[j].mfe);
                putNumberField(out, ("mae_" + h).c_str(), outcomes[j].mae);
            }
            out.put('}');
            out.written();
        }
    }
    out.put(']');
}

// The report's histograms: each mode's and class's returns at each horizon.
void putDistributions(TextSink& out, const std::vector<EvaluatedFile>& files, const std::vector<int>& horizons) {
    out.put('{');
    for (SignalMode mode : {SignalMode::Live, SignalMode::Hindsight}) {
        putJsonField(out, modeName(mode), mode == SignalMode::Live);
        out.put('{');
        bool firstClass = true;
        for (vlm::PointSide side : {vlm::PointSide::Buy, vlm::PointSide::Sell}) {
            for (int c = 1; c <= 3; ++c) {
                putJsonField(out, classOf(side, c).c_str(), firstClass);
                firstClass = false;
                out.put('{');
                for (std::size_t j = 0; j < horizons.size(); ++j) {
                    putJsonField(out, std::to_string(horizons[j]).c_str(), j == 0);
                    std::vector<double> values;
                    for (const EvaluatedFile& f : files) {
                        if (!f.error.empty()) continue;
                        for (std::size_t k = 0; k < f.evaluation.signals.size(); ++k) {
                            const Signal& s = f.evaluation.signals[k];
                            const double r = f.evaluation.outcomesOf(k)[j].ret;
                            if (s.mode == mode && s.side == side && s.pointClass == c && std::isfinite(r)) {
                                values.push_back(r);
                            }
                        }
                    }
                    putArray(out, values);
                }
                out.put('}');
            }
        }
        out.put('}');
    }
    out.put('}');
}

// One file's curves, its bars and its live signals, for the report's charts.
void putOneFile(TextSink& out, const EvaluatedFile& f) {
    const FileEvaluation& e = f.evaluation;
    const std::vector<std::int64_t> seconds = barSeconds(f.bars);
    putJsonField(out, "equity");
    out.put('{');
    putJsonField(out, "stats", true);
    putRules(out, e);
    putJsonField(out, "curve");
    out.put('{');
    putJsonField(out, "time", true);
    putArray(out, seconds);
    putJsonField(out, "live");
    putArray(out, e.live.value);
    putJsonField(out, "hindsight");
    putArray(out, e.hindsight.value);
    putJsonField(out, "buy_and_hold");
    putArray(out, e.buyAndHold.value);
    out.put("}}");
    if (f.bars.high.empty()) return;
    putJsonField(out, "chart");
    out.put('{');
    putJsonField(out, "time", true);
    putArray(out, seconds);
    putJsonField(out, "open");
    putArray(out, f.bars.open);
    putJsonField(out, "high");
    putArray(out, f.bars.high);
    putJsonField(out, "low");
    putArray(out, f.bars.low);
    putJsonField(out, "close");
    putArray(out, f.bars.close.empty() ? f.bars.high : f.bars.close);
    std::vector<std::string> label;
    std::vector<std::int32_t> signalBar, withdrawn;
    for (const Signal& s : e.signals) {
        if (s.mode != SignalMode::Live) continue;
        label.push_back(classOf(s.side, s.pointClass));
        signalBar.push_back(s.signalBar);
        withdrawn.push_back(s.withdrawnBar);
    }
    putJsonField(out, "signals");
    out.put('{');
    putJsonField(out, "class", true);
    out.put('[');
    for (std::size_t k = 0; k < label.size(); ++k) {
        if (k) out.put(',');
        out.putJsonString(label[k]);
    }
    out.put(']');
    putJsonField(out, "signal_bar");
    putArray(out, signalBar);
    putJsonField(out, "withdrawn_bar");
    out.put('[');
    for (std::size_t k = 0; k < withdrawn.size(); ++k) {
        if (k) out.put(',');
        withdrawn[k] >= 0 ? out.putInt(withdrawn[k]) : out.put("null");
    }
    out.put("]}}");
}

}  // namespace

void writeEvaluationJson(TextSink& out, const std::vector<EvaluatedFile>& files, const vlm::Summary& summary,
                         const vlm::EvaluationOptions& options, const std::string& title, bool report) {
    out.put('{');
    putTextField(out, "title", title, true);
    putJsonField(out, "horizons");
    putArray(out, options.horizons);
    putNumberField(out, "cost_bp", options.costBp);
    putJsonField(out, "files");
    putFiles(out, files);
    putJsonField(out, "summary");
    putStatistics(out, summary);
    putJsonField(out, "survival");
    putSurvival(out, summary);
    if (report) {
        putJsonField(out, "distributions");
        putDistributions(out, files, options.horizons);
        if (files.size() == 1 && files[0].error.empty()) putOneFile(out, files[0]);
    } else {
        putJsonField(out, "signals");
        putSignalObjects(out, files);
    }
    out.put("}\n");
    out.flush();
}

}  // namespace vlmstruct
