#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "points/macd.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

// The average as a weighted sum of every input so far: (1 - a)^t x0 +
// sum over i >= 1 of a (1 - a)^(t - i) x_i, evaluated afresh at each bar.
std::vector<double> emaBySum(const std::vector<double>& x, int n) {
    const double a = 2.0 / (n + 1.0);
    std::vector<double> out(x.size());
    for (std::size_t t = 0; t < x.size(); ++t) {
        double sum = std::pow(1.0 - a, static_cast<double>(t)) * x[0];
        for (std::size_t i = 1; i <= t; ++i) sum += a * std::pow(1.0 - a, static_cast<double>(t - i)) * x[i];
        out[t] = sum;
    }
    return out;
}

TEST(Macd, MatchesTheDefinition) {
    struct Row {
        MacdParams params;
        std::uint32_t seed;
    };
    for (const Row& r : {Row{{12, 26, 9}, 1}, Row{{5, 13, 4}, 2}, Row{{1, 1, 1}, 3}, Row{{26, 12, 9}, 4}}) {
        const testing::Bars bars = testing::makeBars(testing::Shape::QuantisedWalk, 300, r.seed);
        std::vector<double> close(bars.high.begin(), bars.high.end());
        const std::vector<double> fast = emaBySum(close, r.params.fast);
        const std::vector<double> slow = emaBySum(close, r.params.slow);
        std::vector<double> dif(close.size());
        for (std::size_t i = 0; i < dif.size(); ++i) dif[i] = fast[i] - slow[i];
        const std::vector<double> dea = emaBySum(dif, r.params.signal);
        const std::vector<double> got = MacdHistogram(bars.high, r.params);
        Macd macd(r.params);
        for (std::size_t i = 0; i < close.size(); ++i) {
            const MacdValue v = macd.advance(bars.high[i]);
            ASSERT_NEAR(v.dif, dif[i], 1e-9) << "bar " << i;
            ASSERT_NEAR(v.dea, dea[i], 1e-9) << "bar " << i;
            ASSERT_NEAR(got[i], 2.0 * (dif[i] - dea[i]), 2e-9) << "bar " << i;
            ASSERT_EQ(v.histogram, got[i]);  // one routine for both
        }
    }
}

// Closes 10 then 12: EMA12 = 10 + 2/13 x 2, EMA26 = 10 + 2/27 x 2,
// DIF = 4/13 - 4/27 = 0.15954..., DEA = 0.2 x DIF, histogram = 1.6 x DIF.
TEST(Macd, TwoBarsByHand) {
    const std::vector<float> close = {10.0f, 12.0f};
    const std::vector<double> h = MacdHistogram(close);
    EXPECT_EQ(h[0], 0.0);
    EXPECT_NEAR(h[1], 1.6 * (4.0 / 13.0 - 4.0 / 27.0), 1e-15);
    EXPECT_NEAR(h[1], 0.2552706553, 1e-10);
}

// A close that is not a number holds the averages: the bar repeats the bar
// before (zeros before the first finite close).
TEST(Macd, NonFiniteClosesHoldTheAverages) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<double> plain = MacdHistogram(std::vector<float>{10, 12, 11});
    const std::vector<double> held = MacdHistogram(std::vector<float>{nan, 10, inf, 12, nan, 11});
    const std::vector<double> expected = {0.0, plain[0], plain[0], plain[1], plain[1], plain[2]};
    EXPECT_EQ(held, expected);
}

TEST(Macd, RefusesPeriodsBelowOne) {
    EXPECT_THROW(Macd({0, 26, 9}), std::invalid_argument);
    EXPECT_THROW(Macd({12, -1, 9}), std::invalid_argument);
    EXPECT_THROW(MacdHistogram({}, {12, 26, 0}), std::invalid_argument);
}

}  // namespace
}  // namespace vlm
