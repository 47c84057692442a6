#include "chart_columns.h"

#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "analysis/levels.h"
#include "levels/resample.h"
#include "barfile/output_files.h"

namespace vlmstruct::chart {

namespace {

constexpr std::int64_t kLargest = std::int64_t{1} << 50;  // the page reads varints as doubles
constexpr int kMostDecimals = 8;

std::uint64_t zigzag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

void varint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

// The integers, NaN where `missing` says so, as the varint bytes.
std::string packed(std::span<const std::int64_t> values, const std::vector<bool>& missing, Coding coding) {
    std::string bytes;
    bytes.reserve(values.size() * 2);
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (missing[i]) {
            varint(bytes, 0);
            continue;
        }
        varint(bytes, 1 + zigzag(coding == Coding::Delta ? values[i] - previous : values[i]));
        previous = values[i];
    }
    return bytes;
}

std::string scaledColumn(std::span<const std::int64_t> values, const std::vector<bool>& missing, int decimals,
                         Coding coding) {
    return "{\"n\":" + std::to_string(values.size()) + ",\"dec\":" + std::to_string(decimals) +
           ",\"delta\":" + (coding == Coding::Delta ? "true" : "false") + ",\"v\":\"" +
           base64(packed(values, missing, coding)) + "\"}";
}

// The integers m with m / 10^decimals giving each value back, if there are.
template <class Real>
std::optional<std::vector<std::int64_t>> scaled(std::span<const Real> values, int decimals) {
    static constexpr std::array<double, kMostDecimals + 1> kPowers{1, 10, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const double power = kPowers[static_cast<std::size_t>(decimals)];
    std::vector<std::int64_t> out(values.size(), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Real v = values[i];
        if (std::isnan(v)) continue;
        const double m = std::round(static_cast<double>(v) * power);
        if (!(std::fabs(m) <= static_cast<double>(kLargest))) return std::nullopt;
        if (static_cast<Real>(m / power) != v) return std::nullopt;
        out[i] = static_cast<std::int64_t>(m);
    }
    return out;
}

std::string dateText(vlm::levels::Seconds t, std::size_t form) {
    const std::string full = secondsText(t);
    return full.empty() ? full : full.substr(0, form);
}

std::string textDates(const std::vector<std::string>& dates) {
    std::string out = "{\"text\":[";
    for (std::size_t i = 0; i < dates.size(); ++i) out += (i ? "," : "") + jsonString(dates[i]);
    return out + "]}";
}

}  // namespace

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
    }
    if (i + 1 == bytes.size()) {
        const std::uint32_t v = at(i) << 16;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const std::uint32_t v = at(i) << 16 | at(i + 1) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

namespace {

template <class Real, class Bits>
std::string realColumn(std::span<const Real> values, Coding coding, const char* rawName) {
    bool finite = true;
    std::vector<bool> missing(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        missing[i] = std::isnan(values[i]);
        finite = finite && (missing[i] || std::isfinite(values[i]));
    }
    for (int decimals = 0; finite && decimals <= kMostDecimals; ++decimals) {
        if (const auto m = scaled(values, decimals)) return scaledColumn(*m, missing, decimals, coding);
    }
    std::string raw(values.size() * sizeof(Real), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        Bits bits = 0;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (std::size_t b = 0; b < sizeof bits; ++b) {
            raw[i * sizeof bits + b] = static_cast<char>((bits >> (8 * b)) & 0xff);
        }
    }
    return "{\"n\":" + std::to_string(values.size()) + ",\"" + rawName + "\":\"" + base64(raw) + "\"}";
}

}  // namespace

std::string numberColumn(std::span<const float> values, Coding coding) {
    return realColumn<float, std::uint32_t>(values, coding, "f32");
}

std::string numberColumn(std::span<const double> values, Coding coding) {
    return realColumn<double, std::uint64_t>(values, coding, "f64");
}

std::string integerColumn(std::span<const std::int64_t> values, Coding coding) {
    for (const std::int64_t v : values) {
        if (v > kLargest || v < -kLargest) throw std::out_of_range("chart column: an integer beyond 2^50");
    }
    return scaledColumn(values, std::vector<bool>(values.size()), 0, coding);
}

std::string dateColumn(const std::vector<std::string>& dates) {
    if (dates.empty()) return "null";
    const std::size_t form = dates.front().size();
    std::vector<vlm::levels::Seconds> time;
    time.reserve(dates.size());
    std::int64_t unit = 0;
    try {
        for (const std::string& d : dates) {
            const vlm::levels::Seconds t = barTime(d);
            if (d.size() != form || dateText(t, form) != d) return textDates(dates);
            time.push_back(t);
            unit = std::gcd(unit, t);
        }
    } catch (const std::invalid_argument&) {
        return textDates(dates);
    }
    if (unit == 0) unit = 1;
    for (auto& t : time) t /= unit;
    return "{\"unit\":" + std::to_string(unit) + ",\"form\":" + std::to_string(form) +
           ",\"t\":" + integerColumn(time) + "}";
}

}  // namespace vlmstruct::chart
