#pragma once
// Generated bar series for property tests: shapes that make ties, NaN and
// odd prices common, all from a fixed seed so failures reproduce.

#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "functions/series_functions.h"

namespace vlm::testing {

struct Bars {
    std::vector<float> high;
    std::vector<float> low;
    [[nodiscard]] std::size_t size() const { return high.size(); }
};

enum class Shape {
    QuantisedWalk,  // random walk rounded to 0.01: equal prices are common
    TinyValueSet,   // highs and lows from {1, 2, 3}: heavy ties and containment
    WithNaN,        // a walk with NaN sprinkled into highs and lows
    ZeroAndNegative,  // a walk around zero
    LowAboveHigh,   // lows sometimes above highs
    PendingGrowing, // strictly alternating up and down bars, no three falling lows
};

inline const char* shapeName(Shape s) {
    switch (s) {
        case Shape::QuantisedWalk: return "QuantisedWalk";
        case Shape::TinyValueSet: return "TinyValueSet";
        case Shape::WithNaN: return "WithNaN";
        case Shape::ZeroAndNegative: return "ZeroAndNegative";
        case Shape::LowAboveHigh: return "LowAboveHigh";
        case Shape::PendingGrowing: return "PendingGrowing";
    }
    return "?";
}

inline constexpr Shape kAllShapes[] = {Shape::QuantisedWalk,   Shape::TinyValueSet,
                                       Shape::WithNaN,         Shape::ZeroAndNegative,
                                       Shape::LowAboveHigh,    Shape::PendingGrowing};

inline float quantise(double v) { return static_cast<float>(std::round(v * 100.0) / 100.0); }

inline Bars makeBars(Shape shape, std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_real_distribution<double> range(0.0, 0.6);
    std::uniform_int_distribution<int> tiny(1, 3);
    std::uniform_int_distribution<int> percent(0, 99);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Bars bars;
    bars.high.resize(n);
    bars.low.resize(n);
    double mid = shape == Shape::ZeroAndNegative ? 0.0 : 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        mid += step(rng) * (shape == Shape::ZeroAndNegative ? 0.3 : 1.0);
        float h = quantise(mid + range(rng));
        float l = quantise(mid - range(rng));
        switch (shape) {
            case Shape::TinyValueSet:
                h = static_cast<float>(tiny(rng));
                l = static_cast<float>(tiny(rng));
                if (l > h) std::swap(l, h);
                break;
            case Shape::WithNaN:
                if (percent(rng) < 3) h = nan;
                if (percent(rng) < 3) l = nan;
                break;
            case Shape::LowAboveHigh:
                if (percent(rng) < 20) std::swap(h, l);
                break;
            case Shape::PendingGrowing:
                // 100/50, then 20/10 and 21/11 in turn: never three falling lows.
                h = i == 0 ? 100.0f : (i % 2 == 1 ? 20.0f : 21.0f);
                l = i == 0 ? 50.0f : (i % 2 == 1 ? 10.0f : 11.0f);
                break;
            default:
                break;
        }
        bars.high[i] = h;
        bars.low[i] = l;
    }
    return bars;
}

// An arbitrary "signal": exact codes mixed with values that are no mark.
inline std::vector<float> makeArbitrarySignal(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const float odd[] = {0.0f, -0.0f, 1.0000001f, -0.9999999f, 2.0f,
                         std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()};
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int> oddPick(0, 6);
    std::vector<float> s(n);
    for (float& v : s) {
        const int p = pick(rng);
        v = p < 3 ? 1.0f : p < 6 ? -1.0f : odd[oddPick(rng)];
    }
    return s;
}

// Runs numbered function `number` through the core's table.
inline std::vector<float> runFunction(int number, std::span<const float> signal,
                                      std::span<const float> high, std::span<const float> low) {
    const SeriesFunction& f = kSeriesFunctions[static_cast<std::size_t>(number - 1)];
    std::vector<float> out(high.size(), 12345.0f);
    SeriesInputs in{f.inputs == InputLayout::SignalHighLow ? signal : std::span<const float>{},
                    high, low};
    f.run(in, out);
    return out;
}

// Bitwise equality, so NaN and -0.0 count.
inline bool sameBits(std::span<const float> a, std::span<const float> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint32_t x = 0;
        std::uint32_t y = 0;
        std::memcpy(&x, &a[i], sizeof x);
        std::memcpy(&y, &b[i], sizeof y);
        if (x != y) return false;
    }
    return true;
}

}  // namespace vlm::testing
