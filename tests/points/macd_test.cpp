#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "points/macd.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

// The document's MACD written out plainly, in double: each average starts at
// its first input and then moves by alpha x value + (1 - alpha) x average,
// alpha = 2 / (n + 1); a close that is not finite repeats the bar before
// (zeros before the first finite close).
std::vector<MacdValue> textbookMacd(const std::vector<float>& close, const MacdParams& p) {
    const double fastAlpha = 2.0 / (p.fast + 1.0);
    const double slowAlpha = 2.0 / (p.slow + 1.0);
    const double signalAlpha = 2.0 / (p.signal + 1.0);
    double fast = 0.0, slow = 0.0, dea = 0.0;
    bool started = false;
    MacdValue bar;
    std::vector<MacdValue> out;
    for (const float c : close) {
        if (std::isfinite(c)) {
            if (started) {
                fast = fastAlpha * c + (1.0 - fastAlpha) * fast;
                slow = slowAlpha * c + (1.0 - slowAlpha) * slow;
                dea = signalAlpha * (fast - slow) + (1.0 - signalAlpha) * dea;
            } else {
                fast = slow = c;
                dea = fast - slow;  // DEA's first input, the first DIF
                started = true;
            }
            bar = {fast - slow, dea, 2.0 * (fast - slow - dea)};
        }
        out.push_back(bar);
    }
    return out;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Bit for bit, bar by bar and for the whole series, with closes that are
// not finite from the first bar on.
TEST(Macd, MatchesTheDefinition) {
    struct Row {
        MacdParams params;
        std::uint32_t seed;
    };
    for (const Row& r : {Row{{12, 26, 9}, 1}, Row{{5, 13, 4}, 2}, Row{{1, 1, 1}, 3}, Row{{26, 12, 9}, 4}}) {
        std::vector<float> close = testing::makeBars(testing::Shape::WithNaN, 300, r.seed).high;
        close[0] = std::numeric_limits<float>::quiet_NaN();
        close[1] = std::numeric_limits<float>::infinity();
        close[150] = -std::numeric_limits<float>::infinity();
        const std::vector<MacdValue> want = textbookMacd(close, r.params);
        const std::vector<double> got = MacdHistogram(close, r.params);
        Macd macd(r.params);
        for (std::size_t i = 0; i < close.size(); ++i) {
            const MacdValue v = macd.advance(close[i]);
            ASSERT_EQ(bits(v.dif), bits(want[i].dif)) << "bar " << i;
            ASSERT_EQ(bits(v.dea), bits(want[i].dea)) << "bar " << i;
            ASSERT_EQ(bits(v.histogram), bits(want[i].histogram)) << "bar " << i;
            ASSERT_EQ(bits(got[i]), bits(want[i].histogram)) << "bar " << i;
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

TEST(Macd, RefusesPeriodsBelowOne) {
    EXPECT_THROW(Macd({0, 26, 9}), std::invalid_argument);
    EXPECT_THROW(Macd({12, -1, 9}), std::invalid_argument);
    EXPECT_THROW(MacdHistogram({}, {12, 26, 0}), std::invalid_argument);
}

}  // namespace
}  // namespace vlm
