#include "points/macd.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vlm {

namespace {

double alphaOf(int n) { return 2.0 / (static_cast<double>(n) + 1.0); }

double step(double ema, double alpha, double x) { return alpha * x + (1.0 - alpha) * ema; }

}  // namespace

void CheckMacdParams(const MacdParams& params) {
    if (params.fast < 1 || params.slow < 1 || params.signal < 1) {
        throw std::invalid_argument("MACD periods must be at least 1");
    }
}

Macd::Macd(MacdParams params)
    : fastAlpha_((CheckMacdParams(params), alphaOf(params.fast))),
      slowAlpha_(alphaOf(params.slow)),
      signalAlpha_(alphaOf(params.signal)) {}

bool Macd::fits(const MacdParams& params) const {
    const Macd fresh(params);
    unsigned char started = 0;
    std::memcpy(&started, &started_, 1);
    return started <= 1 && std::memcmp(&fastAlpha_, &fresh.fastAlpha_, sizeof(double)) == 0 &&
           std::memcmp(&slowAlpha_, &fresh.slowAlpha_, sizeof(double)) == 0 &&
           std::memcmp(&signalAlpha_, &fresh.signalAlpha_, sizeof(double)) == 0;
}

MacdValue Macd::advance(float close) {
    if (!std::isfinite(close)) {
        return value_;
    }
    const double x = close;
    if (!started_) {
        started_ = true;
        fastEma_ = x;
        slowEma_ = x;
        value_.dif = 0.0;  // x - x
        value_.dea = 0.0;
    } else {
        fastEma_ = step(fastEma_, fastAlpha_, x);
        slowEma_ = step(slowEma_, slowAlpha_, x);
        value_.dif = fastEma_ - slowEma_;
        value_.dea = step(value_.dea, signalAlpha_, value_.dif);
    }
    value_.histogram = 2.0 * (value_.dif - value_.dea);
    return value_;
}

std::vector<double> MacdHistogram(std::span<const float> close, MacdParams params) {
    Macd macd(params);
    std::vector<double> out(close.size());
    for (std::size_t i = 0; i < close.size(); ++i) {
        out[i] = macd.advance(close[i]).histogram;
    }
    return out;
}

}  // namespace vlm
