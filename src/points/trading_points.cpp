#include "points/trading_points.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "kline/bar_count.h"
#include "pivot/pivot_outputs.h"
#include "stroke/bi_signal.h"

namespace vlm {

namespace {

constexpr std::array<std::string_view, 4> kMeasureNames{"area", "full-area", "peak", "slope"};

// The measure's place in kMeasureNames; a value outside the enumeration is refused.
std::size_t measureIndex(ForceMeasure measure) {
    const auto m = static_cast<std::size_t>(measure);
    if (m >= kMeasureNames.size()) throw std::invalid_argument("unknown force measure");
    return m;
}

TradingPoint pointAt(const TurningPoint& end, int pointClass, const PointPivot& pivot) {
    TradingPoint p;
    p.side = end.isTop ? PointSide::Sell : PointSide::Buy;
    p.bar = end.bar;
    p.price = end.price;
    p.classes = ClassBit(pointClass);
    p.pivots[static_cast<std::size_t>(pointClass - 1)] = pivot;
    return p;
}

// The price of `a` lies strictly beyond `b` in the stroke direction (above
// for a top, below for a bottom); false against a NaN.
bool beyond(const TurningPoint& a, float b) { return a.isTop ? a.price > b : a.price < b; }

}  // namespace

std::string_view ForceMeasureName(ForceMeasure measure) {
    return kMeasureNames[measureIndex(measure)];
}

std::optional<ForceMeasure> ParseForceMeasure(std::string_view name) {
    for (std::size_t m = 0; m < kMeasureNames.size(); ++m) {
        if (kMeasureNames[m] == name) return static_cast<ForceMeasure>(m);
    }
    return std::nullopt;
}

void CheckTradingPointOptions(const TradingPointOptions& options) {
    CheckMacdParams(options.macd);
    if (options.class1MinRun < 1) {
        throw std::invalid_argument("the first-class run must be at least 1");
    }
    if (!(std::isfinite(options.divergenceRatio) && options.divergenceRatio > 0.0)) {
        throw std::invalid_argument("the divergence ratio must be a finite number above 0");
    }
    measureIndex(options.force);
}

std::vector<PointPivot> PointPivots(std::span<const Pivot> listed, std::span<const float> runCounts,
                                    const std::optional<Pivot>& underWay) {
    RequireLength("runCounts", runCounts.size(), listed.size());
    std::vector<PointPivot> out;
    out.reserve(listed.size() + 1);
    for (std::size_t p = 0; p < listed.size(); ++p) out.push_back({listed[p], runCounts[p]});
    if (underWay) out.push_back({*underWay, RunCountAfter(listed, runCounts, *underWay)});
    return out;
}

std::size_t FirstEndAtOrAfter(std::span<const TurningPoint> ends, std::int64_t bar) {
    // Steps back from the last end, twice as far each time, until one lies
    // before `bar`; then halves the range between.
    std::size_t low = 0, high = ends.size();
    for (std::size_t step = 1; high > 0; step *= 2) {
        const std::size_t probe = high > step ? high - step : 0;
        if (ends[probe].bar < bar) {
            low = probe + 1;
            break;
        }
        high = probe;
    }
    const auto it = std::lower_bound(ends.begin() + static_cast<std::ptrdiff_t>(low),
                                     ends.begin() + static_cast<std::ptrdiff_t>(high), bar,
                                     [](const TurningPoint& p, std::int64_t b) { return p.bar < b; });
    return static_cast<std::size_t>(it - ends.begin());
}

double StrokeForce(std::span<const TurningPoint> ends, std::size_t k,
                   std::span<const double> histogram, ForceMeasure measure) {
    if (k == 0 || k >= ends.size()) {
        throw std::invalid_argument("k = " + std::to_string(k) + " is not the end of a stroke among " +
                                    std::to_string(ends.size()) + " stroke ends");
    }
    const TurningPoint& from = ends[k - 1];
    const TurningPoint& to = ends[k];
    if (to.bar < 0 || histogram.size() <= static_cast<std::size_t>(to.bar)) {
        throw std::invalid_argument("the histogram must cover every bar up to the stroke's end");
    }
    if (measure == ForceMeasure::Slope) {
        return std::fabs(static_cast<double>(to.price) - static_cast<double>(from.price)) /
               static_cast<double>(std::int64_t{to.bar} - from.bar);
    }
    const double sign = to.isTop ? 1.0 : -1.0;
    double force = 0.0;
    for (auto i = static_cast<std::size_t>(from.bar) + 1; i <= static_cast<std::size_t>(to.bar); ++i) {
        const double h = histogram[i];
        const bool withStroke = sign * h > 0.0;
        switch (measure) {
            case ForceMeasure::Area:
                if (withStroke) force += std::fabs(h);
                break;
            case ForceMeasure::FullArea:
                force += std::fabs(h);
                break;
            case ForceMeasure::Peak:
                if (withStroke) force = std::max(force, std::fabs(h));
                break;
            case ForceMeasure::Slope:
                break;
        }
    }
    return force;
}

double ForceMemo::force(std::span<const TurningPoint> ends, std::size_t k,
                        std::span<const double> histogram, ForceMeasure measure) {
    if (k >= finalEnds_) return StrokeForce(ends, k, histogram, measure);
    for (const Slot& slot : slots_) {
        if (slot.k == k) return slot.force;
    }
    Slot& slot = slots_[nextSlot_];
    nextSlot_ = (nextSlot_ + 1) % slots_.size();
    slot = {k, StrokeForce(ends, k, histogram, measure)};
    return slot.force;
}

PivotScan::PivotScan(std::span<const TurningPoint> ends, const PointPivot& pivot,
                     const TradingPointOptions& options)
    : pivot_(pivot), next_(FirstEndAtOrAfter(ends, pivot.pivot.end) + 1) {
    looking_ = searchBit(kBuy3) | searchBit(kSell3);
    const float trend = pivot.pivot.trend;
    if ((trend == -1.0f || trend == 1.0f) &&
        pivot.runCount >= static_cast<float>(options.class1MinRun)) {
        // The entering stroke ends at the pivot's start: a bottom for a
        // falling pivot, a top for a rising one.
        const std::size_t e = FirstEndAtOrAfter(ends, pivot.pivot.start);
        if (e >= 1 && e < ends.size() && ends[e].bar == pivot.pivot.start &&
            ends[e].isTop == (trend == 1.0f)) {
            entering_ = e;
            looking_ |= searchBit(trend == -1.0f ? kBuy1 : kSell1);
        }
    }
}

void PivotScan::advance(std::span<const TurningPoint> ends, std::size_t limit,
                        std::int64_t lastStart) {
    if (limit > ends.size()) {
        throw std::invalid_argument("limit " + std::to_string(limit) + " is past the " +
                                    std::to_string(ends.size()) + " stroke ends");
    }
    const Pivot& z = pivot_.pivot;
    const auto take = [&](Search s, bool leaves) {
        if ((looking_ & searchBit(s)) != 0 && leaves) {
            found_[s] = next_;
            looking_ &= static_cast<std::uint8_t>(~searchBit(s));
        }
    };
    while (looking_ != 0 && next_ < limit && ends[next_ - 1].bar <= lastStart) {
        const TurningPoint& end = ends[next_];
        if (end.isTop) {
            take(kBuy3, end.price > z.upper);
            take(kSell1, entering_ != kNone && end.price > z.upper && end.price > ends[entering_].price);
        } else {
            take(kSell3, end.price < z.lower);
            take(kBuy1, entering_ != kNone && end.price < z.lower && end.price < ends[entering_].price);
        }
        ++next_;
    }
}

void PivotScan::emit(std::span<const TurningPoint> ends, std::span<const double> histogram,
                     const TradingPointOptions& options, std::vector<TradingPoint>& out,
                     ForceMemo* memo) const {
    for (const std::size_t k : {entering_, found_[kBuy3], found_[kSell3], found_[kBuy1], found_[kSell1]}) {
        if (k != kNone && k >= ends.size()) {
            throw std::invalid_argument("ends holds fewer stroke ends than the scan advanced over");
        }
    }
    const std::size_t first = out.size();
    const Pivot& z = pivot_.pivot;
    // Third class: the end of the stroke after the leaving one stays out of
    // the zone (strictly above the upper bound, strictly below the lower).
    for (const Search s : {kBuy3, kSell3}) {
        const std::size_t k = found_[s];
        if (k == kNone || k + 1 >= ends.size()) continue;
        const TurningPoint& pullback = ends[k + 1];
        const bool stays = s == kBuy3 ? pullback.price > z.upper : pullback.price < z.lower;
        if (stays) out.push_back(pointAt(pullback, 3, pivot_));
    }
    // First class, and the second class that follows it.
    for (const Search s : {kBuy1, kSell1}) {
        const std::size_t k = found_[s];
        if (k == kNone) continue;
        const auto force = [&](std::size_t stroke) {
            return memo != nullptr ? memo->force(ends, stroke, histogram, options.force)
                                   : StrokeForce(ends, stroke, histogram, options.force);
        };
        const double leaving = force(k);
        const double entering = force(entering_);
        if (!(leaving < options.divergenceRatio * entering)) continue;
        TradingPoint one = pointAt(ends[k], 1, pivot_);
        one.leavingForce = leaving;
        one.enteringForce = entering;
        one.forceRatio = leaving / entering;
        out.push_back(one);
        // The pullback after the stroke that starts at the first-class
        // point must not reach its price: a higher bottom, a lower top.
        if (k + 2 < ends.size() && beyond(ends[k], ends[k + 2].price)) {
            TradingPoint two = pointAt(ends[k + 2], 2, pivot_);
            two.follows = ends[k].bar;
            out.push_back(two);
        }
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const TradingPoint& a, const TradingPoint& b) { return a.bar < b.bar; });
}

void JoinPoints(std::vector<TradingPoint>& points) {
    const auto byBar = [](const TradingPoint& a, const TradingPoint& b) { return a.bar < b.bar; };
    if (!std::is_sorted(points.begin(), points.end(), byBar)) {
        std::stable_sort(points.begin(), points.end(), byBar);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TradingPoint& p = points[i];
        if (kept > 0 && points[kept - 1].bar == p.bar) {
            TradingPoint& q = points[kept - 1];
            q.classes |= p.classes;
            for (int c = 1; c <= 3; ++c) {
                if (p.has(c)) q.pivots[static_cast<std::size_t>(c - 1)] = p.pivots[static_cast<std::size_t>(c - 1)];
            }
            if (p.has(1)) {
                q.leavingForce = p.leavingForce;
                q.enteringForce = p.enteringForce;
                q.forceRatio = p.forceRatio;
            }
            if (p.has(2)) q.follows = p.follows;
            continue;
        }
        points[kept++] = p;
    }
    points.resize(kept);
}

std::vector<TradingPoint> CalcTradingPoints(const PointStructures& s,
                                            const TradingPointOptions& options) {
    CheckTradingPointOptions(options);
    const std::span<const TurningPoint> ends = s.strokeEnds;
    for (std::size_t k = 1; k < ends.size(); ++k) {
        if (ends[k].bar <= ends[k - 1].bar || ends[k].isTop == ends[k - 1].isTop) {
            throw std::invalid_argument("stroke ends must ascend and alternate tops and bottoms");
        }
    }
    if (!ends.empty() && (ends.front().bar < 0 ||
                          s.histogram.size() <= static_cast<std::size_t>(ends.back().bar))) {
        throw std::invalid_argument("the histogram must cover every bar up to the last stroke end");
    }
    std::vector<TradingPoint> points;
    for (std::size_t p = 0; p < s.pivots.size(); ++p) {
        const std::int64_t lastStart =
            p + 1 < s.pivots.size() ? s.pivots[p + 1].pivot.start : PivotScan::kNoNextPivot;
        PivotScan scan(ends, s.pivots[p], options);
        scan.advance(ends, ends.size(), lastStart);
        scan.emit(ends, s.histogram, options, points);
    }
    JoinPoints(points);
    return points;
}

BarStructures StructuresOfBars(std::span<const float> high, std::span<const float> low,
                               std::span<const float> close, MacdParams macd) {
    RequireBars(high.size(), high.size(), low.size());
    RequireLength("low", low.size(), high.size());
    // Function 2's signal; only its ends are read, so the strokes keep no other merged bar.
    const std::vector<float> signal = CalcBiSignal(high, low, BiChuLi::Bars::EndOnly);
    return StructuresOfSignal(signal, high, low, close, macd);
}

BarStructures StructuresOfSignal(std::span<const float> signal, std::span<const float> high,
                                 std::span<const float> low, std::span<const float> close,
                                 MacdParams macd) {
    RequireBars(high.size(), high.size(), low.size());
    RequireLength("low", low.size(), high.size());
    RequireLength("signal", signal.size(), high.size());
    RequireLength("close", close.size(), high.size(), true);
    BarStructures out;
    out.strokeEnds = turningPoints(signal, high, low);
    // The walk CalcPivotList runs, kept to read the pivot it leaves open.
    ZhongShuList listed;
    PivotWalk walk;
    walk.advance(out.strokeEnds, listed);
    const std::optional<Pivot> underWay = walk.openPivot();
    out.pivotUnderWay = underWay.has_value();
    out.pivots = PointPivots(listed, PivotRunCounts(listed), underWay);
    std::vector<float> read(high.size());
    for (std::size_t i = 0; i < read.size(); ++i) read[i] = PointsClose(CloseAt(close, i), high[i], low[i]);
    out.histogram = MacdHistogram(read, macd);
    return out;
}

std::vector<TradingPoint> CalcTradingPoints(std::span<const float> high, std::span<const float> low,
                                            std::span<const float> close,
                                            const TradingPointOptions& options) {
    CheckTradingPointOptions(options);
    const BarStructures s = StructuresOfBars(high, low, close, options.macd);
    return CalcTradingPoints(s.view(), options);
}

}  // namespace vlm
