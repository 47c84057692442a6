#include "barfile/float_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vlmstruct {

namespace {

// Prices are mostly short decimals (12.34), for which the shortest text can
// be found directly, far faster than the general algorithm; nullptr where
// the general one is needed. For 0.001 <= |v| < 100000, take the most
// decimals d (at most four) for which the interval of numbers that read back
// as v is narrower than 10^-d: at most one d-decimal number lies in it. If
// the one nearest to v does, it is the shortest text once its trailing zeros
// are dropped (any shorter text would be another d-decimal number in the
// interval), and the nearest, as to_chars chooses; in this range the fixed
// form is never longer than the exponent form.
char* writeShortDecimal(char* out, float v) {
    const float af = std::fabs(v);
    if (!(af >= 0.001f && af < 100000.0f)) return nullptr;
    std::uint32_t bits;
    std::memcpy(&bits, &af, sizeof bits);
    float before, after;
    const std::uint32_t down = bits - 1, up = bits + 1;
    std::memcpy(&before, &down, sizeof before);
    std::memcpy(&after, &up, sizeof after);
    const auto a = static_cast<double>(af);
    // The midpoints to the neighbours, exact in a double (a float's digits and one more bit).
    const double below = 0.5 * (a + static_cast<double>(before));
    const double above = 0.5 * (a + static_cast<double>(after));
    const double width = above - below;
    static constexpr double kStep[] = {1.0, 0.1, 0.01, 0.001, 0.0001};
    static constexpr std::uint32_t kScale[] = {1, 10, 100, 1000, 10000};
    int d = 4;
    while (d > 0 && !(width < kStep[d])) --d;
    const auto scale = static_cast<double>(kScale[d]);
    // Below 100000 x 10^4: fits 32 bits, whose divisions by constants are cheap.
    auto m = static_cast<std::uint32_t>(a * scale + 0.5);
    // The bounds times 10^d are exact: at most 25 and 14 significant bits.
    const double low = below * scale, high = above * scale, md = static_cast<double>(m);
    const bool inside = (low < md && md < high) || ((md == low || md == high) && (bits & 1) == 0);
    if (!inside) return nullptr;  // a tie reads back as the even neighbour, so only then is a bound in
    while (d > 0 && m % 10 == 0) {
        m /= 10;
        --d;
    }
    if (v < 0) *out++ = '-';
    const std::uint32_t whole = m / kScale[d];
    out = std::to_chars(out, out + 8, whole).ptr;
    if (d > 0) {
        *out++ = '.';
        std::uint32_t fraction = m - whole * kScale[d];
        for (int k = d - 1; k >= 0; --k) {
            out[k] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        out += d;
    }
    return out;
}

}  // namespace

char* writeFloat(char* out, float v) {
    if (std::isnan(v)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (std::isinf(v)) {
        const char* text = v > 0 ? "inf" : "-inf";
        const std::size_t n = v > 0 ? 3 : 4;
        std::memcpy(out, text, n);
        return out + n;
    }
    // Most values the tools write are whole numbers (signals, counts, bars
    // and the zeros outside zones): below 100000 to_chars writes them as
    // their digits, and "-0" for negative zero.
    if (std::fabs(v) < 100000.0f) {
        const auto whole = static_cast<std::int32_t>(v);
        if (static_cast<float>(whole) == v) {
            if (std::signbit(v)) *out++ = '-';
            return std::to_chars(out, out + 8, whole < 0 ? -whole : whole).ptr;
        }
    }
    if (char* end = writeShortDecimal(out, v)) return end;
    const auto [end, ec] = std::to_chars(out, out + kFloatTextSize, v);
    if (ec == std::errc()) return end;
    std::memcpy(out, "nan", 3);
    return out + 3;
}

void appendFloat(std::string& out, float v) {
    char buffer[kFloatTextSize];
    out.append(buffer, writeFloat(buffer, v));
}

std::string formatFloat(float v) {
    std::string out;
    appendFloat(out, v);
    return out;
}

std::string formatDouble(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[kFloatTextSize];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : "nan";
}

}  // namespace vlmstruct
