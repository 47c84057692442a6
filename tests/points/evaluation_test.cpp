#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "points/evaluation.h"
#include "points/point_replay.h"
#include "points/trading_points.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

constexpr double kTol = 1e-12;
constexpr double kCost = 0.001;  // 10 basis points

// The worked example of docs/evaluation.md: closes in straight legs of one
// point a bar from 20 (up 4, down 5, up 4, down 7, up 4, down 7, up 4, down
// 4), highs and lows half a point either side, weekly dates; with opens, each
// bar opens a quarter point back from its close against its move.
struct Example {
    std::vector<float> open, high, low, close;
    std::vector<std::int64_t> time;
};

Example workedExample(bool withOpens) {
    Example e;
    const int legs[] = {4, 5, 4, 7, 4, 7, 4, 4};
    std::vector<int> close{20};
    int dir = 1;
    for (int leg : legs) {
        for (int i = 0; i < leg; ++i) close.push_back(close.back() + dir);
        dir = -dir;
    }
    for (std::size_t t = 0; t < close.size(); ++t) {
        const double c = close[t];
        e.close.push_back(static_cast<float>(c));
        e.high.push_back(static_cast<float>(c + 0.5));
        e.low.push_back(static_cast<float>(c - 0.5));
        const double move = t == 0 ? 0.0 : c - close[t - 1];
        if (withOpens) e.open.push_back(static_cast<float>(c - move / 4));
        e.time.push_back(19723 + 7 * static_cast<std::int64_t>(t));  // 2024-01-01, weekly
    }
    return e;
}

EvaluationOptions exampleOptions() {
    EvaluationOptions o;
    o.horizons = {1, 3};
    o.costBp = 10;
    o.points.force = ForceMeasure::Slope;
    o.points.class1MinRun = 1;
    return o;
}

FileEvaluation evaluateExample(bool withOpens) {
    const Example e = workedExample(withOpens);
    return Evaluate({e.open, e.high, e.low, e.close, e.time, 86400}, exampleOptions());
}

struct ExpectedSignal {
    SignalMode mode;
    PointSide side;
    int pointClass, pointBar, signalBar, entryBar;
    double entryPrice;
    int withdrawnBar;
    bool final;
    double ret1, mfe1, mae1, ret3, mfe3, mae3;
};

constexpr auto L = SignalMode::Live;
constexpr auto H = SignalMode::Hindsight;
constexpr auto B = PointSide::Buy;
constexpr auto S = PointSide::Sell;

void expectSignals(const FileEvaluation& got, const std::vector<ExpectedSignal>& want) {
    ASSERT_EQ(got.signals.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        const Signal& s = got.signals[i];
        const ExpectedSignal& w = want[i];
        EXPECT_EQ(std::tuple(s.mode, s.side, int{s.pointClass}, s.pointBar, s.signalBar, s.entryBar, s.withdrawnBar,
                             s.final),
                  std::tuple(w.mode, w.side, w.pointClass, w.pointBar, w.signalBar, w.entryBar, w.withdrawnBar,
                             w.final));
        EXPECT_EQ(s.entryPrice, w.entryPrice);
        const std::span<const Outcome> o = got.outcomesOf(i);
        const double want6[] = {w.ret1, w.mfe1, w.mae1, w.ret3, w.mfe3, w.mae3};
        const double got6[] = {o[0].ret, o[0].mfe, o[0].mae, o[1].ret, o[1].mfe, o[1].mae};
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(got6[k], want6[k], kTol) << "value " << k;
    }
}

// The numbers of docs/evaluation.md, worked out there by hand.
TEST(EvaluationWorkedExample, SignalsAndReturns) {
    expectSignals(evaluateExample(false),
                  {
                      {L, B, 1, 30, 30, 30, 14, 31, false, -1.0 / 14 - kCost, 0, -1.5 / 14, 1.0 / 14 - kCost,
                       1.5 / 14, -1.5 / 14},
                      {L, B, 1, 31, 31, 31, 13, -1, true, 1.0 / 13 - kCost, 1.5 / 13, 0, 3.0 / 13 - kCost, 3.5 / 13, 0},
                      {L, S, 3, 35, 35, 35, 17, -1, true, 1.0 / 17 - kCost, 1.5 / 17, 0, 3.0 / 17 - kCost, 3.5 / 17, 0},
                      {H, B, 1, 31, 31, 31, 13, -1, true, 1.0 / 13 - kCost, 1.5 / 13, 0, 3.0 / 13 - kCost, 3.5 / 13, 0},
                      {H, S, 3, 35, 35, 35, 17, -1, true, 1.0 / 17 - kCost, 1.5 / 17, 0, 3.0 / 17 - kCost, 3.5 / 17, 0},
                  });
    // With opens: entries at the next bar's open, excursions over that bar on.
    expectSignals(evaluateExample(true),
                  {
                      {L, B, 1, 30, 30, 31, 13.25, 31, false, -0.25 / 13.25 - kCost, 0.25 / 13.25, -0.75 / 13.25,
                       1.75 / 13.25 - kCost, 2.25 / 13.25, -0.75 / 13.25},
                      {L, B, 1, 31, 31, 32, 13.75, -1, true, 0.25 / 13.75 - kCost, 0.75 / 13.75, -0.25 / 13.75,
                       2.25 / 13.75 - kCost, 2.75 / 13.75, -0.25 / 13.75},
                      {L, S, 3, 35, 35, 36, 16.25, -1, true, 0.25 / 16.25 - kCost, 0.75 / 16.25, -0.25 / 16.25,
                       2.25 / 16.25 - kCost, 2.75 / 16.25, -0.25 / 16.25},
                      {H, B, 1, 31, 31, 32, 13.75, -1, true, 0.25 / 13.75 - kCost, 0.75 / 13.75, -0.25 / 13.75,
                       2.25 / 13.75 - kCost, 2.75 / 13.75, -0.25 / 13.75},
                      {H, S, 3, 35, 35, 36, 16.25, -1, true, 0.25 / 16.25 - kCost, 0.75 / 16.25, -0.25 / 16.25,
                       2.25 / 16.25 - kCost, 2.75 / 16.25, -0.25 / 16.25},
                  });
}

const StatisticsRow& rowOf(const Summary& s, SignalMode mode, PointSide side, int c, int horizon) {
    for (const StatisticsRow& r : s.statistics) {
        if (r.mode == mode && r.side == side && r.pointClass == c && r.horizon == horizon) return r;
    }
    throw std::logic_error("no such row");
}

void expectNear(double got, double want) {
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << got;
    } else {
        EXPECT_NEAR(got, want, kTol);
    }
}

TEST(EvaluationWorkedExample, StatisticsSurvivalAndEquity) {
    const FileEvaluation f = evaluateExample(false);
    const Summary s = Summarise(std::span(&f, 1));
    ASSERT_EQ(s.statistics.size(), 2u * 8u * 2u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The baseline: the mean of close[t + h] / close[t] - 1 over the 39 (37)
    // bars that have both, tabled in the document.
    const double base1 = -0.369519703087478 / 39, base3 = -0.8804316236103825 / 37;
    const double z2 = 1.959963984540054 * 1.959963984540054;
    struct Row {
        SignalMode mode;
        PointSide side;
        int c, h;
        std::int64_t n;
        double mean, median, std, t, win, winLow, winHigh, mfe, mae, baseline;
    } rows[] = {
        // Live B1 over 1 bar: -1/14 and +1/13, less the cost.
        {L, B, 1, 1, 2, 1.0 / 364 - kCost, 1.0 / 364 - kCost, (27.0 / 182) / std::sqrt(2.0),
         (1.0 / 364 - kCost) * 2 / (27.0 / 182), 0.5, 0.5 - 1.959963984540054 * std::sqrt(0.125 + z2 / 16) / (1 + z2 / 2),
         0.5 + 1.959963984540054 * std::sqrt(0.125 + z2 / 16) / (1 + z2 / 2), 1.5 / 26, -1.5 / 28, base1},
        {L, B, 1, 3, 2, 55.0 / 364 - kCost, 55.0 / 364 - kCost, (29.0 / 182) / std::sqrt(2.0),
         (55.0 / 364 - kCost) * 2 / (29.0 / 182), 1, 1 / (1 + z2 / 2), 1,
         (1.5 / 14 + 3.5 / 13) / 2, -1.5 / 28, base3},
        {L, B, 0, 3, 2, 55.0 / 364 - kCost, 55.0 / 364 - kCost, (29.0 / 182) / std::sqrt(2.0),
         (55.0 / 364 - kCost) * 2 / (29.0 / 182), 1, 1 / (1 + z2 / 2), 1, (1.5 / 14 + 3.5 / 13) / 2, -1.5 / 28, base3},
        {L, S, 3, 1, 1, 1.0 / 17 - kCost, 1.0 / 17 - kCost, nan, nan, 1, 1 / (1 + z2), 1, 1.5 / 17, 0, -base1},
        {L, S, 0, 3, 1, 3.0 / 17 - kCost, 3.0 / 17 - kCost, nan, nan, 1, 1 / (1 + z2), 1, 3.5 / 17, 0, -base3},
        {H, B, 1, 3, 1, 3.0 / 13 - kCost, 3.0 / 13 - kCost, nan, nan, 1, 1 / (1 + z2), 1, 3.5 / 13, 0, base3},
        {L, B, 2, 1, 0, nan, nan, nan, nan, nan, nan, nan, nan, nan, base1},
        {H, S, 1, 3, 0, nan, nan, nan, nan, nan, nan, nan, nan, nan, -base3},
    };
    for (const Row& w : rows) {
        SCOPED_TRACE(ClassLabel(w.side, w.c) + (w.mode == L ? " live " : " hindsight ") + std::to_string(w.h));
        const StatisticsRow& r = rowOf(s, w.mode, w.side, w.c, w.h);
        EXPECT_EQ(r.n, w.n);
        const double got[] = {r.mean, r.median, r.std, r.t, r.winRate, r.winLow, r.winHigh, r.mfe, r.mae, r.baseline};
        const double want[] = {w.mean, w.median, w.std, w.t, w.win, w.winLow, w.winHigh, w.mfe, w.mae, w.baseline};
        for (std::size_t k = 0; k < std::size(got); ++k) {
            SCOPED_TRACE(k);
            expectNear(got[k], want[k]);
        }
        expectNear(r.edge, w.mean - w.baseline);
    }

    ASSERT_EQ(s.survival.size(), 6u);
    const SurvivalRow& b1 = s.survival[0];
    const SurvivalRow& s3 = s.survival[5];
    EXPECT_EQ(std::tuple(b1.signals, b1.shownAtEnd, b1.finalShare, b1.medianDelay, b1.medianBarsToWithdrawal),
              std::tuple(2, 0.5, 0.5, 0.0, 1.0));
    EXPECT_EQ(std::tuple(s3.signals, s3.shownAtEnd, s3.finalShare, s3.medianDelay), std::tuple(1, 1.0, 1.0, 0.0));
    EXPECT_TRUE(std::isnan(s3.medianBarsToWithdrawal));
    EXPECT_EQ(s.survival[1].signals, 0);

    // Live: long at 14 (close of bar 30) to 17 (close of bar 35); hindsight
    // from 13 (bar 31); buy-and-hold from 20 (bar 0) to 13 (bar 39).
    const double liveCurve[] = {1, 13.0 / 14, 1, 15.0 / 14, 16.0 / 14, 17.0 / 14 - kCost};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(f.live.value[static_cast<std::size_t>(30 + i)], liveCurve[i], kTol);
    EXPECT_EQ(f.live.value[29], 1.0);
    EXPECT_NEAR(f.live.value[39], 17.0 / 14 - kCost, kTol);
    const double years = 273 / 365.25;
    struct Equity {
        const EquityCurve* curve;
        double total, maxDrawdown, exposure, annual, volatility, sharpe;
    } equities[] = {
        {&f.live, 17.0 / 14 - 1 - kCost, 1.0 / 14, 5.0 / 40, std::pow(17.0 / 14 - kCost, 1 / years) - 1,
         0.17880450635457615, 1.5355277764758124},
        {&f.hindsight, 17.0 / 13 - 1 - kCost, 0, 4.0 / 40, std::pow(17.0 / 13 - kCost, 1 / years) - 1,
         0.15415216247377633, 2.4015754872822357},
        {&f.buyAndHold, 13.0 / 20 - 1 - kCost, 1 - (0.65 - kCost) / 1.2, 1, std::pow(0.65 - kCost, 1 / years) - 1,
         0.4030076766199842, -1.2314807118007733},
    };
    for (const Equity& e : equities) {
        const EquityStats& st = e.curve->stats;
        EXPECT_NEAR(st.totalReturn, e.total, kTol);
        EXPECT_NEAR(st.maxDrawdown, e.maxDrawdown, kTol);
        EXPECT_NEAR(st.exposure, e.exposure, kTol);
        EXPECT_NEAR(st.annualReturn, e.annual, kTol);
        EXPECT_NEAR(st.volatility, e.volatility, 1e-9);
        EXPECT_NEAR(st.sharpe, e.sharpe, 1e-9);
        EXPECT_EQ(st.trades, 1);
    }
    // With opens the live rule buys at 13.25 (bar 31's open) and sells at
    // 16.25 (bar 36's open); hindsight buys at 13.75.
    const FileEvaluation o = evaluateExample(true);
    EXPECT_NEAR(o.live.stats.totalReturn, 3.0 / 13.25 - kCost, kTol);
    EXPECT_NEAR(o.hindsight.stats.totalReturn, 2.5 / 13.75 - kCost, kTol);
    EXPECT_NEAR(o.buyAndHold.stats.exposure, 39.0 / 40, kTol);
}

// ---- Properties on generated series ----------------------------------------

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Series {
    std::vector<float> open, high, low, close;
    EvaluationSeries view() const { return {open, high, low, close, {}, 86400}; }
};

// A walk with closes between the low and the high, and opens at the previous
// close where asked.
Series generated(testing::Shape shape, std::size_t n, std::uint32_t seed, bool opens) {
    const testing::Bars bars = testing::makeBars(shape, n, seed);
    Series s{{}, bars.high, bars.low, {}};
    for (std::size_t i = 0; i < n; ++i) {
        s.close.push_back(static_cast<float>(bars.low[i] + (bars.high[i] - bars.low[i]) * ((i * 7 % 10) / 10.0)));
        if (opens) s.open.push_back(i == 0 ? s.close[0] : s.close[i - 1]);
    }
    return s;
}

struct GeneratedCase {
    testing::Shape shape;
    std::size_t bars;
    std::uint32_t seed;
    bool opens;
    int class1MinRun;
};
constexpr GeneratedCase kGenerated[] = {
    {testing::Shape::QuantisedWalk, 3000, 7, true, 2},
    {testing::Shape::QuantisedWalk, 3000, 11, false, 1},
    {testing::Shape::TinyValueSet, 1500, 3, true, 1},
    {testing::Shape::WithNaN, 2000, 5, false, 1},
    {testing::Shape::ZeroAndNegative, 2000, 9, true, 1},
};

EvaluationOptions generatedOptions(const GeneratedCase& c) {
    EvaluationOptions o;
    o.costBp = 5;
    o.points.class1MinRun = c.class1MinRun;
    return o;
}

using SignalKey = std::tuple<PointSide, int, int, int, int, bool>;  // side, class, p, t, withdrawn, final

// Live signals by the definition, from the replay's point events applied in
// order: what each point bar shows after every bar, compared with the bar before.
TEST(EvaluationLive, EqualsTheReplayEventsAppliedInOrder) {
    int withdrawn = 0, twoClassPoints = 0, moved = 0;
    for (const GeneratedCase& c : kGenerated) {
        SCOPED_TRACE(c.seed);
        const Series s = generated(c.shape, c.bars, c.seed, c.opens);
        const EvaluationOptions options = generatedOptions(c);
        const PointReplayLog log = ReplayWithPoints(s.high, s.low, s.close, options.points);
        std::map<int, TradingPoint> shown;
        const auto has = [](const std::map<int, TradingPoint>& m, int p, PointSide side, int cl) {
            const auto it = m.find(p);
            return it != m.end() && it->second.side == side && it->second.has(cl);
        };
        std::vector<SignalKey> want;
        std::map<std::tuple<int, PointSide, int>, std::size_t> open;
        std::size_t e = 0;
        for (int t = 0; t < static_cast<int>(c.bars); ++t) {
            const std::map<int, TradingPoint> before = shown;
            for (; e < log.pointEvents.size() && log.pointEvents[e].bar == t; ++e) {
                const TradingPoint& p = log.pointEvents[e].point.point;
                if (log.pointEvents[e].kind == EventKind::Withdrawn) shown.erase(p.bar);
                if (log.pointEvents[e].kind == EventKind::Appeared) shown[p.bar] = p;
            }
            for (const auto& [p, point] : before) {
                for (int cl = 1; cl <= 3; ++cl) {
                    if (point.has(cl) && !has(shown, p, point.side, cl)) {
                        std::get<4>(want[open.at({p, point.side, cl})]) = t;
                        open.erase({p, point.side, cl});
                    }
                }
            }
            for (const auto& [p, point] : shown) {
                twoClassPoints += std::popcount(point.classes) > 1 && !before.contains(p);
                moved += !before.contains(p) && before.contains(p - 1);
                for (int cl = 1; cl <= 3; ++cl) {
                    if (point.has(cl) && !has(before, p, point.side, cl)) {
                        open[{p, point.side, cl}] = want.size();
                        want.emplace_back(point.side, cl, p, t, -1, false);
                    }
                }
            }
        }
        for (SignalKey& k : want) {
            std::get<5>(k) = has(shown, std::get<2>(k), std::get<0>(k), std::get<1>(k));
            withdrawn += std::get<4>(k) >= 0;
        }
        const FileEvaluation f = Evaluate(s.view(), options);
        std::vector<SignalKey> got;
        for (const Signal& x : f.signals) {
            if (x.mode == SignalMode::Live) {
                got.emplace_back(x.side, x.pointClass, x.pointBar, x.signalBar, x.withdrawnBar, x.final);
            }
        }
        EXPECT_EQ(got, want);
    }
    // The cases show what the definition is about.
    EXPECT_GT(withdrawn, 10);
    EXPECT_GT(twoClassPoints, 0);
    EXPECT_GT(moved, 10);
}

TEST(EvaluationHindsight, EqualsThePointsOfTheWholeSeries) {
    std::size_t points = 0;
    for (const GeneratedCase& c : kGenerated) {
        SCOPED_TRACE(c.seed);
        const Series s = generated(c.shape, c.bars, c.seed, c.opens);
        const EvaluationOptions options = generatedOptions(c);
        std::vector<std::tuple<PointSide, int, int>> want;
        for (const TradingPoint& p : CalcTradingPoints(s.high, s.low, s.close, options.points)) {
            for (int cl = 1; cl <= 3; ++cl) {
                if (p.has(cl)) want.emplace_back(p.side, p.bar, cl);
            }
        }
        std::vector<std::tuple<PointSide, int, int>> got;
        for (const Signal& x : Evaluate(s.view(), options).signals) {
            if (x.mode == SignalMode::Hindsight) got.emplace_back(x.side, x.pointBar, x.pointClass);
        }
        EXPECT_EQ(got, want);
        points += want.size();
    }
    EXPECT_GT(points, 50u);
}

// The series cut after bar T gives every live signal of bars 0..T as the
// whole series does, with the same result over each horizon that ends by T,
// and the live rule's equity is the same before T.
TEST(EvaluationLive, NoLookAhead) {
    int compared = 0;
    for (const GeneratedCase& c : kGenerated) {
        const Series s = generated(c.shape, c.bars, c.seed, c.opens);
        const EvaluationOptions options = generatedOptions(c);
        const FileEvaluation full = Evaluate(s.view(), options);
        for (const std::size_t cut : {c.bars / 5, c.bars / 2, c.bars - 25, c.bars - 2}) {
            SCOPED_TRACE(std::to_string(c.seed) + " cut after " + std::to_string(cut));
            const auto first = [cut](const std::vector<float>& v) {
                return v.empty() ? std::span<const float>() : std::span<const float>(v).first(cut + 1);
            };
            const FileEvaluation part =
                Evaluate({first(s.open), first(s.high), first(s.low), first(s.close), {}, 86400}, options);
            const auto T = static_cast<std::int32_t>(cut);
            std::vector<std::size_t> fullLive, partLive;
            for (std::size_t i = 0; i < full.signals.size(); ++i) {
                if (full.signals[i].mode == SignalMode::Live && full.signals[i].signalBar <= T) fullLive.push_back(i);
            }
            for (std::size_t i = 0; i < part.signals.size(); ++i) {
                if (part.signals[i].mode == SignalMode::Live) partLive.push_back(i);
            }
            ASSERT_EQ(partLive.size(), fullLive.size());
            for (std::size_t j = 0; j < fullLive.size(); ++j) {
                const Signal& a = full.signals[fullLive[j]];
                const Signal& b = part.signals[partLive[j]];
                EXPECT_EQ(std::tuple(a.side, a.pointClass, a.pointBar, a.signalBar),
                          std::tuple(b.side, b.pointClass, b.pointBar, b.signalBar));
                EXPECT_EQ(b.withdrawnBar, a.withdrawnBar <= T ? a.withdrawnBar : -1);
                EXPECT_TRUE(a.entryBar > T || (a.entryBar == b.entryBar && sameBits(a.entryPrice, b.entryPrice)));
                for (std::size_t k = 0; k < options.horizons.size(); ++k) {
                    if (a.signalBar + options.horizons[k] > T) continue;
                    const Outcome x = full.outcomesOf(fullLive[j])[k], y = part.outcomesOf(partLive[j])[k];
                    EXPECT_TRUE(sameBits(x.ret, y.ret) && sameBits(x.mfe, y.mfe) && sameBits(x.mae, y.mae));
                    ++compared;
                }
            }
            for (std::int32_t i = 0; i < T; ++i) {
                ASSERT_TRUE(sameBits(full.live.value[static_cast<std::size_t>(i)],
                                     part.live.value[static_cast<std::size_t>(i)]))
                    << i;
            }
        }
    }
    EXPECT_GT(compared, 500);
}

bool sameStats(const EquityStats& a, const EquityStats& b) {
    const double x[] = {a.totalReturn, a.annualReturn, a.volatility, a.sharpe, a.maxDrawdown, a.exposure};
    const double y[] = {b.totalReturn, b.annualReturn, b.volatility, b.sharpe, b.maxDrawdown, b.exposure};
    return a.trades == b.trades && std::equal(std::begin(x), std::end(x), std::begin(y), sameBits);
}

// Less equity detail leaves the signals alone and drops only what was not
// asked for: the statistics without the curves are the same bits.
TEST(EvaluationEquity, KeepsOnlyTheDetailAskedFor) {
    int withSharpe = 0;
    for (const GeneratedCase& c : kGenerated) {
        SCOPED_TRACE(c.seed);
        const Series s = generated(c.shape, c.bars, c.seed, c.opens);
        std::vector<std::int64_t> days(c.bars);
        for (std::size_t i = 0; i < days.size(); ++i) days[i] = 19723 + static_cast<std::int64_t>(i);
        EvaluationSeries series = s.view();
        series.time = days;
        EvaluationOptions options = generatedOptions(c);
        const FileEvaluation curves = Evaluate(series, options);
        options.equity = EquityDetail::Statistics;
        const FileEvaluation stats = Evaluate(series, options);
        options.equity = EquityDetail::None;
        const FileEvaluation none = Evaluate(series, options);
        withSharpe += std::isfinite(curves.live.stats.sharpe);
        for (const FileEvaluation* f : {&stats, &none}) {
            EXPECT_TRUE(std::equal(f->signals.begin(), f->signals.end(), curves.signals.begin(), curves.signals.end(),
                                   [](Signal a, Signal b) {  // entry prices compared as bits: NaN without one
                                       if (!sameBits(a.entryPrice, b.entryPrice)) return false;
                                       a.entryPrice = b.entryPrice = 0.0;
                                       return a == b;
                                   }));
            EXPECT_TRUE(std::equal(f->outcomes.begin(), f->outcomes.end(), curves.outcomes.begin(),
                                   curves.outcomes.end(), [](const Outcome& a, const Outcome& b) {
                                       return sameBits(a.ret, b.ret) && sameBits(a.mfe, b.mfe) && sameBits(a.mae, b.mae);
                                   }));
        }
        const EquityCurve FileEvaluation::*kCurves[] = {&FileEvaluation::live, &FileEvaluation::hindsight,
                                                       &FileEvaluation::buyAndHold};
        for (const auto curve : kCurves) {
            EXPECT_EQ((curves.*curve).value.size(), c.bars);
            EXPECT_TRUE(sameStats((stats.*curve).stats, (curves.*curve).stats));
            EXPECT_TRUE((stats.*curve).value.empty() && (none.*curve).value.empty());
            EXPECT_TRUE(sameStats((none.*curve).stats, EquityStats{}));
        }
    }
    EXPECT_GE(withSharpe, 2);  // the annualised figures are compared too
}

bool sameRow(const StatisticsRow& a, const StatisticsRow& b) {
    const double x[] = {a.mean, a.median, a.std, a.t, a.winRate, a.winLow, a.winHigh, a.mfe, a.mae, a.baseline, a.edge};
    const double y[] = {b.mean, b.median, b.std, b.t, b.winRate, b.winLow, b.winHigh, b.mfe, b.mae, b.baseline, b.edge};
    return std::tuple(a.mode, a.side, a.pointClass, a.horizon, a.n) ==
               std::tuple(b.mode, b.side, b.pointClass, b.horizon, b.n) &&
           std::equal(std::begin(x), std::end(x), std::begin(y), sameBits);
}

TEST(EvaluationSummary, PoolingOrderDoesNotMatter) {
    std::vector<FileEvaluation> files;
    std::int64_t liveB1 = 0;
    for (const GeneratedCase& c : kGenerated) {
        files.push_back(Evaluate(generated(c.shape, c.bars, c.seed, false).view(), generatedOptions(c)));
        liveB1 += rowOf(Summarise(std::span(&files.back(), 1)), L, B, 1, 5).n;
    }
    const Summary first = Summarise(files);
    EXPECT_EQ(rowOf(first, L, B, 1, 5).n, liveB1);
    EXPECT_GT(liveB1, 0);
    std::vector<std::size_t> order{0, 1, 2, 3, 4};
    int permutations = 0;
    while (std::next_permutation(order.begin(), order.end())) {
        if (++permutations % 7 != 0) continue;  // a spread of the 120 orders
        std::vector<FileEvaluation> shuffled;
        for (std::size_t i : order) shuffled.push_back(files[i]);
        const Summary other = Summarise(shuffled);
        ASSERT_EQ(other.statistics.size(), first.statistics.size());
        for (std::size_t r = 0; r < first.statistics.size(); ++r) {
            ASSERT_TRUE(sameRow(first.statistics[r], other.statistics[r])) << r;
        }
        for (std::size_t r = 0; r < first.survival.size(); ++r) {
            const SurvivalRow& a = first.survival[r];
            const SurvivalRow& b = other.survival[r];
            ASSERT_TRUE(a.signals == b.signals && sameBits(a.shownAtEnd, b.shownAtEnd) &&
                        sameBits(a.medianDelay, b.medianDelay) &&
                        sameBits(a.medianBarsToWithdrawal, b.medianBarsToWithdrawal));
        }
    }
}

// Long lists of values (thousands a class, as a market gives) against the
// statistics' definitions computed here from std::sort's order: returns of
// every sign and size with repeats, and excursions with gaps.
TEST(EvaluationSummary, LongListsGiveTheDefinedStatistics) {
    FileEvaluation f;
    f.horizons = {1};
    f.baseline = {{0.0, 1}};
    std::uint64_t state = 12345;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state >> 11;
    };
    std::map<std::pair<PointSide, int>, std::vector<double>> ret, mfe;
    for (int k = 0; k < 9000; ++k) {
        Signal s;
        s.side = next() % 2 ? PointSide::Buy : PointSide::Sell;
        s.pointClass = static_cast<std::int8_t>(1 + next() % 3);
        const double scale = std::ldexp(1.0, static_cast<int>(next() % 40) - 30);
        const double r = next() % 7 == 0 ? 0.0 : (static_cast<double>(next() % 2001) - 1000.0) * scale;
        Outcome o;
        o.ret = s.side == PointSide::Buy ? r : -r;  // a sell's zero is -0, as the evaluation makes it
        o.mfe = next() % 5 == 0 ? std::numeric_limits<double>::quiet_NaN() : std::abs(r);
        o.mae = -std::abs(r);
        f.signals.push_back(s);
        f.outcomes.push_back(o);
        for (int c : {0, static_cast<int>(s.pointClass)}) {
            ret[{s.side, c}].push_back(o.ret);
            if (std::isfinite(o.mfe)) mfe[{s.side, c}].push_back(o.mfe);
        }
    }
    const Summary summary = Summarise(std::span(&f, 1));
    for (auto& [key, r] : ret) {
        SCOPED_TRACE(ClassLabel(key.first, key.second));
        std::vector<double>& m = mfe[key];
        ASSERT_GT(r.size(), 1024u);  // long enough for the radix sort
        std::sort(r.begin(), r.end());
        std::sort(m.begin(), m.end());
        double sum = 0.0, mfeSum = 0.0;
        for (double x : r) sum += x;
        for (double x : m) mfeSum += x;
        const StatisticsRow& row = rowOf(summary, L, key.first, key.second, 1);
        EXPECT_EQ(row.n, static_cast<std::int64_t>(r.size()));
        EXPECT_TRUE(sameBits(row.mean, sum / static_cast<double>(r.size())));
        EXPECT_TRUE(sameBits(row.median, r.size() % 2 ? r[r.size() / 2] : (r[r.size() / 2 - 1] + r[r.size() / 2]) / 2));
        EXPECT_TRUE(sameBits(row.mfe, mfeSum / static_cast<double>(m.size())));
    }
}

TEST(Evaluation, RefusesWhatItCannotMeasure) {
    const Example e = workedExample(false);
    const EvaluationSeries ok{{}, e.high, e.low, e.close, {}, 86400};
    const auto with = [](auto change) {
        EvaluationOptions o;
        change(o);
        return o;
    };
    const EvaluationOptions bad[] = {
        with([](EvaluationOptions& o) { o.horizons = {}; }),
        with([](EvaluationOptions& o) { o.horizons = {1, 0}; }),
        with([](EvaluationOptions& o) { o.horizons = {5, 1, 5}; }),
        with([](EvaluationOptions& o) { o.costBp = -1; }),
        with([](EvaluationOptions& o) { o.costBp = std::numeric_limits<double>::quiet_NaN(); }),
        with([](EvaluationOptions& o) { o.points.class1MinRun = 0; }),
    };
    for (const EvaluationOptions& o : bad) EXPECT_THROW(Evaluate(ok, o), std::invalid_argument);
    EvaluationSeries shortLow = ok;
    shortLow.low = shortLow.low.first(5);
    EvaluationSeries shortTime = ok;
    shortTime.time = std::span(e.time).first(5);
    for (const EvaluationSeries& s : {shortLow, shortTime}) EXPECT_THROW(Evaluate(s), std::invalid_argument);
    const FileEvaluation a = Evaluate(ok);
    const FileEvaluation b = Evaluate(ok, with([](EvaluationOptions& o) { o.costBp = 1; }));
    const FileEvaluation both[] = {a, b};
    EXPECT_THROW(Summarise(both), std::invalid_argument);
}

}  // namespace
}  // namespace vlm
