#pragma once
// MACD of the closes: DIF = EMA(close, fast) - EMA(close, slow), DEA =
// EMA(DIF, signal), histogram = 2 x (DIF - DEA), in double precision. One
// step advances every average by one bar, so the whole series and the
// streaming form are the same arithmetic in the same order.

#include <span>
#include <vector>

namespace vlm {

struct MacdParams {
    int fast = 12;
    int slow = 26;
    int signal = 9;

    friend bool operator==(const MacdParams&, const MacdParams&) = default;
};

// Throws std::invalid_argument unless every period is at least 1.
void CheckMacdParams(const MacdParams& params);

struct MacdValue {
    double dif = 0.0;
    double dea = 0.0;
    double histogram = 0.0;

    friend bool operator==(const MacdValue&, const MacdValue&) = default;
};

class Macd {
public:
    explicit Macd(MacdParams params = {});

    // Takes the next bar's close and returns that bar's values. Each average
    // starts at its first input and then moves by alpha = 2 / (n + 1). A
    // close that is not finite (NaN, infinite) would poison every later
    // value, so it leaves the averages where they were and the bar repeats
    // the previous bar's values (zeros before the first finite close).
    MacdValue advance(float close);

    [[nodiscard]] const MacdValue& value() const { return value_; }

    friend bool operator==(const Macd&, const Macd&) = default;
    // Whether a state read back could be that of averages of `params`.
    [[nodiscard]] bool fits(const MacdParams& params) const;

private:
    double fastAlpha_;
    double slowAlpha_;
    double signalAlpha_;
    bool started_ = false;
    double fastEma_ = 0.0;
    double slowEma_ = 0.0;
    MacdValue value_;
};

// The histogram of every bar.
std::vector<double> MacdHistogram(std::span<const float> close, MacdParams params = {});

}  // namespace vlm
