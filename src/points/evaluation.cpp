#include "points/evaluation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

#include <boost/sort/spreadsort/integer_sort.hpp>

#include "kline/bar_count.h"
#include "points/point_stream.h"
#include "stream/streaming_engine.h"

namespace vlm {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The two-sided 95% quantile of the normal distribution, for Wilson's interval.
constexpr double kZ95 = 1.959963984540054;
constexpr double kDaysPerYear = 365.25;

bool usablePrice(double price) { return std::isfinite(price) && price > 0.0; }

// What a point bar shows: the side and the classes, 0 for nothing.
using ShownBits = std::uint8_t;
constexpr ShownBits kSellBit = 0x8;
ShownBits bitsOf(const TradingPoint& p) {
    return static_cast<ShownBits>(p.classes | (p.side == PointSide::Sell ? kSellBit : 0));
}
PointSide sideOf(ShownBits bits) { return (bits & kSellBit) != 0 ? PointSide::Sell : PointSide::Buy; }
// The side-and-class pairs of `a` that `b` lacks.
std::uint8_t classesMissingFrom(ShownBits a, ShownBits b) {
    const std::uint8_t classes = a & 0x7;
    return sideOf(a) == sideOf(b) ? static_cast<std::uint8_t>(classes & ~b) : classes;
}

// The prices a signal trades at, read from the series once.
class Prices {
public:
    explicit Prices(const EvaluationSeries& s) : s_(s) {}
    [[nodiscard]] std::size_t size() const { return s_.high.size(); }
    [[nodiscard]] bool hasOpens() const { return !s_.open.empty(); }
    [[nodiscard]] double high(std::size_t i) const { return s_.high[i]; }
    [[nodiscard]] double low(std::size_t i) const { return s_.low[i]; }
    [[nodiscard]] double close(std::size_t i) const {
        return PointsClose(CloseAt(s_.close, i), s_.high[i], s_.low[i]);
    }
    // Where a signal at bar t enters: the next bar's open, or t's close
    // without opens; nullopt past the last bar or at a price that is not a
    // finite number above 0.
    [[nodiscard]] std::optional<std::pair<std::int32_t, double>> entry(std::int64_t t) const {
        const std::int64_t bar = hasOpens() ? t + 1 : t;
        if (bar >= static_cast<std::int64_t>(size())) return std::nullopt;
        const auto i = static_cast<std::size_t>(bar);
        const double price = entryPriceAt(i);
        if (!usablePrice(price)) return std::nullopt;
        return std::pair{static_cast<std::int32_t>(bar), price};
    }
    // The price an entry at bar i is filled at.
    [[nodiscard]] double entryPriceAt(std::size_t i) const {
        return hasOpens() ? static_cast<double>(s_.open[i]) : close(i);
    }

private:
    const EvaluationSeries& s_;
};

// The live signals: the point stream driven bar by bar exactly as the
// replay drives it (PointReplay::push is this engine push and this update),
// its changes applied to what each point bar shows. A class is newly shown
// at t when the bar shows it after t and did not after t - 1, so a point
// withdrawn and shown again, or moved to another bar, is a new signal,
// while one withdrawn and replaced at its bar by the same classes is not.
class LiveSignals {
public:
    explicit LiveSignals(std::size_t bars) : shown_(bars, 0) {}

    void apply(std::int32_t t, std::span<const PointEvent> changes, std::vector<Signal>& out) {
        touched_.clear();
        for (const PointEvent& e : changes) {
            if (e.change == PointChange::Final) continue;
            const std::int32_t p = e.point.point.bar;
            auto it = std::find_if(touched_.begin(), touched_.end(), [p](const Touched& x) { return x.bar == p; });
            if (it == touched_.end()) {
                touched_.push_back({p, shown_[static_cast<std::size_t>(p)], 0, false});
                it = touched_.end() - 1;
            }
            // One point per bar: what appeared at p replaces what was withdrawn there.
            if (e.change == PointChange::Appeared) {
                it->after = bitsOf(e.point.point);
                it->appeared = true;
            } else if (!it->appeared) {
                it->after = 0;
            }
        }
        std::sort(touched_.begin(), touched_.end(), [](const Touched& a, const Touched& b) { return a.bar < b.bar; });
        for (const Touched& x : touched_) {
            shown_[static_cast<std::size_t>(x.bar)] = x.after;
            const std::uint8_t gone = classesMissingFrom(x.before, x.after);
            const std::uint8_t fresh = classesMissingFrom(x.after, x.before);
            for (int c = 1; c <= 3; ++c) {
                if ((gone & ClassBit(c)) == 0) continue;
                const std::int64_t k = key(x.bar, sideOf(x.before), c);
                const auto open = std::find_if(open_.begin(), open_.end(), [k](const Open& o) { return o.key == k; });
                if (open == open_.end()) throw std::logic_error("a final trading point was withdrawn");
                out[open->signal].withdrawnBar = t;
                open_.erase(open);
            }
            for (int c = 1; c <= 3; ++c) {
                if ((fresh & ClassBit(c)) == 0) continue;
                Signal s;
                s.mode = SignalMode::Live;
                s.side = sideOf(x.after);
                s.pointClass = static_cast<std::int8_t>(c);
                s.pointBar = x.bar;
                s.signalBar = t;
                open_.push_back({key(x.bar, s.side, c), out.size()});
                out.push_back(s);
            }
        }
        // A final point is never withdrawn: its signals stay shown to the end.
        for (const PointEvent& e : changes) {
            if (e.change != PointChange::Final) continue;
            const std::int32_t p = e.point.point.bar;
            std::erase_if(open_, [p](const Open& o) { return o.key / 8 == p; });
        }
    }

private:
    struct Touched {
        std::int32_t bar;
        ShownBits before, after;
        bool appeared;
    };
    static std::int64_t key(std::int32_t bar, PointSide side, int c) {
        return static_cast<std::int64_t>(bar) * 8 + (side == PointSide::Sell ? 4 : 0) + c;
    }

    std::vector<ShownBits> shown_;
    // The live signals shown at points a later bar may still change (few:
    // those after the last final pivot), by point bar, side and class.
    struct Open {
        std::int64_t key;
        std::size_t signal;
    };
    std::vector<Open> open_;
    std::vector<Touched> touched_;
};

void appendHindsight(std::span<const TradingPoint> points, std::vector<Signal>& out) {
    for (const TradingPoint& p : points) {
        for (int c = 1; c <= 3; ++c) {
            if (!p.has(c)) continue;
            Signal s;
            s.mode = SignalMode::Hindsight;
            s.side = p.side;
            s.pointClass = static_cast<std::int8_t>(c);
            s.pointBar = p.bar;
            s.signalBar = p.bar;
            s.final = true;
            out.push_back(s);
        }
    }
}

// ret, mfe and mae of one signal for every horizon, from one walk over the
// bars after its entry.
void measure(const Prices& prices, const Signal& s, std::span<const int> horizons, double cost,
             std::span<Outcome> out) {
    if (s.entryBar < 0) return;
    const double side = s.side == PointSide::Buy ? 1.0 : -1.0;
    const double entry = s.entryPrice;
    // The excursions start at the entry price: with an entry at a close,
    // the entry bar's range lies before the entry.
    double highest = entry, lowest = entry;
    bool usable = true;
    std::int64_t reached = s.entryBar;
    if (prices.hasOpens()) reached -= 1;  // the entry bar's range is after its open: walk it
    for (std::size_t k = 0; k < horizons.size(); ++k) {
        const std::int64_t exitBar = static_cast<std::int64_t>(s.signalBar) + horizons[k];
        if (exitBar >= static_cast<std::int64_t>(prices.size())) continue;
        for (; reached < exitBar; ++reached) {
            const auto i = static_cast<std::size_t>(reached + 1);
            const double h = prices.high(i), l = prices.low(i);
            usable = usable && std::isfinite(h) && std::isfinite(l);
            highest = std::max(highest, h);
            lowest = std::min(lowest, l);
        }
        const double exit = prices.close(static_cast<std::size_t>(exitBar));
        if (std::isfinite(exit)) out[k].ret = side * (exit / entry - 1.0) - cost;
        if (!usable) continue;
        out[k].mfe = side > 0 ? highest / entry - 1.0 : 1.0 - lowest / entry;
        out[k].mae = side > 0 ? lowest / entry - 1.0 : 1.0 - highest / entry;
    }
}

// The simple rule: long from a buy's entry to the next sell's entry, or to
// the last bar, where a position still held is valued at the close as if
// sold. At one entry bar, buys and sells together cancel out; a buy at the
// last bar's close would be held for nothing and is not taken. `value`
// receives the equity at every bar's close.
EquityStats runRule(const Prices& prices, std::span<const Signal> signals, double cost, std::vector<double>& value) {
    const std::size_t n = prices.size();
    // 1: a buy enters at this bar, 2: a sell, 3: both; filled at the bar's entry price.
    std::vector<std::uint8_t> action(n, 0);
    for (const Signal& s : signals) {
        if (s.entryBar >= 0) action[static_cast<std::size_t>(s.entryBar)] |= s.side == PointSide::Buy ? 1 : 2;
    }
    EquityStats stats;
    value.resize(n);
    double cash = 1.0;  // equity when flat, and when the position was opened
    double entry = 0.0, mark = 0.0;
    bool holding = false;
    std::int64_t held = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool last = i + 1 == n;
        if (action[i] == 2 && holding) {
            cash *= prices.entryPriceAt(i) / entry - cost;
            holding = false;
            ++stats.trades;
        } else if (action[i] == 1 && !holding && !(last && !prices.hasOpens())) {
            holding = true;
            entry = mark = prices.entryPriceAt(i);
        }
        if (!holding) {
            value[i] = cash;
            continue;
        }
        ++held;
        if (const double close = prices.close(i); usablePrice(close)) mark = close;
        if (last) {
            cash *= mark / entry - cost;
            ++stats.trades;
            value[i] = cash;
        } else {
            value[i] = cash * (mark / entry);
        }
    }
    stats.exposure = n > 0 ? static_cast<double>(held) / static_cast<double>(n) : 0.0;
    return stats;
}

double meanOf(std::span<const double> sorted) {
    double sum = 0.0;
    for (double v : sorted) sum += v;
    return sum / static_cast<double>(sorted.size());
}

// The sample standard deviation (n - 1), NaN below two values.
double stdOf(std::span<const double> values, double mean) {
    if (values.size() < 2) return kNaN;
    double sum = 0.0;
    for (double v : values) sum += (v - mean) * (v - mean);
    return std::sqrt(sum / static_cast<double>(values.size() - 1));
}

double medianOf(std::span<const double> sorted) {
    const std::size_t n = sorted.size();
    if (n == 0) return kNaN;
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

void fillStats(const EvaluationSeries& series, std::span<const double> v, EquityStats& st) {
    if (v.empty()) return;
    st.totalReturn = v.back() - 1.0;
    double peak = v.front();
    for (double x : v) {
        peak = std::max(peak, x);
        st.maxDrawdown = std::max(st.maxDrawdown, 1.0 - x / peak);
    }
    if (series.time.size() != v.size() || v.size() < 2) return;
    const double years = static_cast<double>(series.time.back() - series.time.front()) *
                         static_cast<double>(series.secondsPerTimeUnit) / (86400.0 * kDaysPerYear);
    if (!(years > 0.0)) return;
    st.annualReturn = std::pow(v.back(), 1.0 / years) - 1.0;
    // The bar returns, recomputed in each pass rather than kept: the same
    // values in the same order as a list of them would hold.
    const auto barReturn = [v](std::size_t i) { return v[i] / v[i - 1] - 1.0; };
    const std::size_t count = v.size() - 1;
    double sum = 0.0;
    for (std::size_t i = 1; i < v.size(); ++i) sum += barReturn(i);
    const double mean = sum / static_cast<double>(count);
    double squares = 0.0;
    for (std::size_t i = 1; i < v.size(); ++i) squares += (barReturn(i) - mean) * (barReturn(i) - mean);
    const double sd = count < 2 ? kNaN : std::sqrt(squares / static_cast<double>(count - 1));
    const double barsPerYear = static_cast<double>(count) / years;
    st.volatility = sd * std::sqrt(barsPerYear);
    if (sd > 0.0) st.sharpe = mean / sd * std::sqrt(barsPerYear);
}

// The rule's equity as the options ask for it: nothing, its statistics
// (the values held in `scratch` meanwhile), or its statistics and values.
void equityOf(const EvaluationSeries& series, const Prices& prices, std::span<const Signal> signals, double cost,
              EquityDetail detail, std::vector<double>& scratch, EquityCurve& out) {
    if (detail == EquityDetail::None) return;
    std::vector<double>& value = detail == EquityDetail::Curves ? out.value : scratch;
    out.stats = runRule(prices, signals, cost, value);
    fillStats(series, value, out.stats);
}

}  // namespace

void CheckEvaluationOptions(const EvaluationOptions& options) {
    CheckTradingPointOptions(options.points);
    if (options.horizons.empty()) throw std::invalid_argument("at least one horizon is needed");
    for (std::size_t i = 0; i < options.horizons.size(); ++i) {
        if (options.horizons[i] < 1) throw std::invalid_argument("a horizon must be at least 1 bar");
        if (std::find(options.horizons.begin(), options.horizons.begin() + static_cast<std::ptrdiff_t>(i),
                      options.horizons[i]) != options.horizons.begin() + static_cast<std::ptrdiff_t>(i)) {
            throw std::invalid_argument("horizon " + std::to_string(options.horizons[i]) + " is given twice");
        }
    }
    if (!std::isfinite(options.costBp) || options.costBp < 0.0) {
        throw std::invalid_argument("the cost must be a finite number of basis points, at least 0");
    }
}

FileEvaluation Evaluate(const EvaluationSeries& series, const EvaluationOptions& options) {
    CheckEvaluationOptions(options);
    const std::size_t n = series.high.size();
    RequireBars(n, n, n);
    RequireLength("low", series.low.size(), n);
    RequireLength("close", series.close.size(), n, true);
    RequireLength("open", series.open.size(), n, true);
    RequireLength("time", series.time.size(), n, true);
    if (series.secondsPerTimeUnit < 1) throw std::invalid_argument("a time unit must be at least one second");

    FileEvaluation out;
    out.horizons = options.horizons;
    out.costBp = options.costBp;
    out.bars = static_cast<std::int64_t>(n);

    StreamingEngine engine;
    engine.reserve(n);
    TradingPointStream stream(options.points);
    stream.reserve(n);
    LiveSignals live(n);
    for (std::size_t i = 0; i < n; ++i) {
        engine.push(series.high[i], series.low[i]);
        stream.push(engine, PointsClose(CloseAt(series.close, i), series.high[i], series.low[i]));
        live.apply(static_cast<std::int32_t>(i), stream.changes(), out.signals);
    }
    // After the last bar the stream holds the points of the whole series.
    const std::vector<TradingPoint> hindsight = stream.points();
    std::vector<ShownBits> final(n, 0);
    for (const TradingPoint& p : hindsight) final[static_cast<std::size_t>(p.bar)] = bitsOf(p);
    for (Signal& s : out.signals) {
        const ShownBits bits = final[static_cast<std::size_t>(s.pointBar)];
        s.final = sideOf(bits) == s.side && (bits & ClassBit(s.pointClass)) != 0;
    }
    const std::size_t liveCount = out.signals.size();
    appendHindsight(hindsight, out.signals);

    const Prices prices(series);
    const double cost = options.costBp / 10000.0;
    const std::size_t h = options.horizons.size();
    out.outcomes.resize(out.signals.size() * h);
    for (std::size_t k = 0; k < out.signals.size(); ++k) {
        Signal& s = out.signals[k];
        if (const auto e = prices.entry(s.signalBar)) {
            s.entryBar = e->first;
            s.entryPrice = e->second;
        }
        measure(prices, s, options.horizons, cost, std::span<Outcome>(out.outcomes).subspan(k * h, h));
    }

    // One pass over the bars for every horizon; each horizon's sum still
    // adds its bars in order.
    out.baseline.resize(h);
    for (std::size_t t = 0; t < n; ++t) {
        const auto e = prices.entry(static_cast<std::int64_t>(t));
        if (!e) continue;
        for (std::size_t k = 0; k < h; ++k) {
            const std::size_t exitBar = t + static_cast<std::size_t>(options.horizons[k]);
            if (exitBar >= n) continue;
            const double exit = prices.close(exitBar);
            if (!std::isfinite(exit)) continue;
            out.baseline[k].sum += exit / e->second - 1.0;
            ++out.baseline[k].count;
        }
    }

    const std::span<const Signal> all(out.signals);
    Signal holdFromStart;
    holdFromStart.signalBar = 0;
    if (const auto e = prices.entry(0)) {
        holdFromStart.entryBar = e->first;
        holdFromStart.entryPrice = e->second;
    }
    std::vector<double> scratch;
    equityOf(series, prices, all.first(liveCount), cost, options.equity, scratch, out.live);
    equityOf(series, prices, all.subspan(liveCount), cost, options.equity, scratch, out.hindsight);
    equityOf(series, prices, std::span<const Signal>(&holdFromStart, 1), cost, options.equity, scratch,
             out.buyAndHold);
    return out;
}

std::string ClassLabel(PointSide side, int pointClass) {
    std::string label(1, side == PointSide::Buy ? 'B' : 'S');
    if (pointClass > 0) label += static_cast<char>('0' + pointClass);
    return label;
}

namespace {

// A number's place in the order of values as an unsigned whole number:
// ascending, with -0 before 0 so that the order is total.
std::uint64_t orderKey(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}
double fromOrderKey(std::uint64_t key) {
    return std::bit_cast<double>((key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key);
}
bool byValue(double a, double b) { return orderKey(a) < orderKey(b); }

// Sorts lists of numbers that are not NaN by value. The statistics sort
// hundreds of thousands of returns and excursions, where a radix sort of
// their order keys (Boost's spreadsort) takes a fraction of a comparison
// sort's time; short lists take the comparison sort. Both give the same
// order. The room for the keys is kept from one list to the next: fresh
// memory costs a page fault per page touched.
class ValueSorter {
public:
    void sort(std::vector<double>& v) {
        constexpr std::size_t kShort = 1024;
        if (v.size() < kShort) {
            std::sort(v.begin(), v.end(), byValue);
            return;
        }
        keys_.resize(v.size());
        std::transform(v.begin(), v.end(), keys_.begin(), orderKey);
        boost::sort::spreadsort::integer_sort(keys_.begin(), keys_.end());
        std::transform(keys_.begin(), keys_.end(), v.begin(), fromOrderKey);
    }

private:
    std::vector<std::uint64_t> keys_;
};

// One group's values, each list sorted by value: the returns (only finite
// ones are listed) and the excursions that are finite.
struct Values {
    std::vector<double> ret, mfe, mae;

    void sort(ValueSorter& sorter) {
        sorter.sort(ret);
        for (std::vector<double>* v : {&mfe, &mae}) {
            std::erase_if(*v, [](double x) { return !std::isfinite(x); });
            sorter.sort(*v);
        }
    }
};

// Sorted lists merged into `out`: the values sorted together, in the same
// order. `both` is room for the merging.
void mergeSorted(std::span<const std::vector<double>* const> lists, std::vector<double>& out,
                 std::vector<double>& both) {
    out.clear();
    for (const std::vector<double>* list : lists) {
        both.resize(out.size() + list->size());
        std::merge(out.begin(), out.end(), list->begin(), list->end(), both.begin(), byValue);
        out.swap(both);
    }
}

// The classes' sorted values pooled as one sorted group, in `out`.
void pool(std::span<const Values* const> classes, Values& out, std::vector<double>& room) {
    std::vector<const std::vector<double>*> ret, mfe, mae;
    for (const Values* v : classes) {
        ret.push_back(&v->ret);
        mfe.push_back(&v->mfe);
        mae.push_back(&v->mae);
    }
    mergeSorted(ret, out.ret, room);
    mergeSorted(mfe, out.mfe, room);
    mergeSorted(mae, out.mae, room);
}

double meanOrNaN(std::span<const double> sorted) { return sorted.empty() ? kNaN : meanOf(sorted); }

StatisticsRow statisticsOf(const Values& values, double baseline) {
    StatisticsRow row;
    const std::vector<double>& r = values.ret;
    row.n = static_cast<std::int64_t>(r.size());
    row.baseline = baseline;
    if (r.empty()) return row;
    const double n = static_cast<double>(r.size());
    row.mean = meanOf(r);
    row.median = medianOf(r);
    row.std = stdOf(r, row.mean);
    row.t = row.mean / (row.std / std::sqrt(n));
    const auto wins = std::count_if(r.begin(), r.end(), [](double x) { return x > 0.0; });
    const double p = static_cast<double>(wins) / n;
    row.winRate = p;
    const double z2 = kZ95 * kZ95;
    const double denominator = 1.0 + z2 / n;
    const double centre = (p + z2 / (2.0 * n)) / denominator;
    const double half = kZ95 * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n)) / denominator;
    row.winLow = std::max(0.0, centre - half);
    row.winHigh = std::min(1.0, centre + half);
    row.mfe = meanOrNaN(values.mfe);
    row.mae = meanOrNaN(values.mae);
    row.edge = row.mean - baseline;
    return row;
}

}  // namespace

Summary Summarise(std::span<const FileEvaluation> files) {
    std::vector<const FileEvaluation*> held;
    held.reserve(files.size());
    for (const FileEvaluation& f : files) held.push_back(&f);
    return Summarise(held);
}

Summary Summarise(std::span<const FileEvaluation* const> files) {
    Summary out;
    if (files.empty()) return out;
    out.horizons = files.front()->horizons;
    for (const FileEvaluation* f : files) {
        if (f->horizons != out.horizons || f->costBp != files.front()->costBp) {
            throw std::invalid_argument("files evaluated with different horizons or costs cannot be pooled");
        }
    }
    const std::size_t h = out.horizons.size();
    // Groups: mode (2) x side (2) x class (1 to 3) x horizon. A side's pool
    // ("B", "S") is its classes' groups merged.
    const auto group = [h](SignalMode m, PointSide s, int c, std::size_t k) {
        return ((static_cast<std::size_t>(m) * 2 + (s == PointSide::Buy ? 0 : 1)) * 3 +
                static_cast<std::size_t>(c - 1)) * h + k;
    };
    std::vector<Values> values(2 * 2 * 3 * h);
    std::vector<std::size_t> counts(values.size(), 0);
    for (const FileEvaluation* f : files) {
        for (std::size_t i = 0; i < f->signals.size(); ++i) {
            const Signal& s = f->signals[i];
            const std::span<const Outcome> o = f->outcomesOf(i);
            for (std::size_t k = 0; k < h; ++k) {
                if (std::isfinite(o[k].ret)) ++counts[group(s.mode, s.side, s.pointClass, k)];
            }
        }
    }
    for (std::size_t g = 0; g < values.size(); ++g) {
        for (std::vector<double>* v : {&values[g].ret, &values[g].mfe, &values[g].mae}) v->reserve(counts[g]);
    }
    std::vector<std::vector<double>> baselineSums(h);
    std::vector<std::int64_t> baselineCounts(h, 0);
    for (const FileEvaluation* f : files) {
        for (std::size_t i = 0; i < f->signals.size(); ++i) {
            const Signal& s = f->signals[i];
            const std::span<const Outcome> o = f->outcomesOf(i);
            for (std::size_t k = 0; k < h; ++k) {
                if (!std::isfinite(o[k].ret)) continue;
                Values& v = values[group(s.mode, s.side, s.pointClass, k)];
                v.ret.push_back(o[k].ret);
                v.mfe.push_back(o[k].mfe);
                v.mae.push_back(o[k].mae);
            }
        }
        for (std::size_t k = 0; k < h; ++k) {
            baselineSums[k].push_back(f->baseline[k].sum);
            baselineCounts[k] += f->baseline[k].count;
        }
    }
    ValueSorter sorter;
    for (Values& v : values) v.sort(sorter);
    std::vector<double> buyBaseline(h, kNaN);
    for (std::size_t k = 0; k < h; ++k) {
        std::sort(baselineSums[k].begin(), baselineSums[k].end());
        double sum = 0.0;
        for (double x : baselineSums[k]) sum += x;
        if (baselineCounts[k] > 0) buyBaseline[k] = sum / static_cast<double>(baselineCounts[k]);
    }
    constexpr std::pair<PointSide, int> kRows[] = {
        {PointSide::Buy, 1},  {PointSide::Buy, 2},  {PointSide::Buy, 3}, {PointSide::Sell, 1},
        {PointSide::Sell, 2}, {PointSide::Sell, 3}, {PointSide::Buy, 0}, {PointSide::Sell, 0},
    };
    Values pooled;  // a side's classes together, one horizon at a time
    std::vector<double> room;
    for (SignalMode mode : {SignalMode::Live, SignalMode::Hindsight}) {
        for (const auto& [side, c] : kRows) {
            for (std::size_t k = 0; k < h; ++k) {
                const double baseline = side == PointSide::Buy ? buyBaseline[k] : -buyBaseline[k];
                StatisticsRow row;
                if (c > 0) {
                    row = statisticsOf(values[group(mode, side, c, k)], baseline);
                } else {
                    const Values* classes[] = {&values[group(mode, side, 1, k)], &values[group(mode, side, 2, k)],
                                               &values[group(mode, side, 3, k)]};
                    pool(classes, pooled, room);
                    row = statisticsOf(pooled, baseline);
                }
                row.mode = mode;
                row.side = side;
                row.pointClass = c;
                row.horizon = out.horizons[k];
                out.statistics.push_back(row);
            }
        }
    }
    // Survival, per class B1 .. S3: one pass over the live signals.
    struct Lives {
        std::vector<double> delays, toWithdrawal;
        std::int64_t shown = 0, final = 0;
    };
    std::array<Lives, 6> lives;
    for (const FileEvaluation* f : files) {
        for (const Signal& s : f->signals) {
            if (s.mode != SignalMode::Live) continue;
            Lives& l = lives[static_cast<std::size_t>((s.side == PointSide::Buy ? 0 : 3) + s.pointClass - 1)];
            l.delays.push_back(s.delay());
            if (s.withdrawnBar < 0) ++l.shown;
            else l.toWithdrawal.push_back(s.withdrawnBar - s.signalBar);
            if (s.final) ++l.final;
        }
    }
    for (std::size_t k = 0; k < lives.size(); ++k) {
        Lives& l = lives[k];
        SurvivalRow row;
        row.side = kRows[k].first;
        row.pointClass = kRows[k].second;
        row.signals = static_cast<std::int64_t>(l.delays.size());
        if (!l.delays.empty()) {
            const double count = static_cast<double>(l.delays.size());
            row.shownAtEnd = static_cast<double>(l.shown) / count;
            row.finalShare = static_cast<double>(l.final) / count;
            std::sort(l.delays.begin(), l.delays.end());
            std::sort(l.toWithdrawal.begin(), l.toWithdrawal.end());
            row.medianDelay = medianOf(l.delays);
            row.medianBarsToWithdrawal = medianOf(l.toWithdrawal);
        }
        out.survival.push_back(row);
    }
    return out;
}

}  // namespace vlm
