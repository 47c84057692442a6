#include "barfile/number_text.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <system_error>
#include <type_traits>

#include "barfile/short_numbers.h"
#include "barfile/text_blanks.h"

namespace vlmstruct::reading {

namespace {

// 1,234,567 or 1,234.5: groups of three digits after the first.
bool thousandsGrouped(std::string_view s) {
    if (!s.empty() && s[0] == '-') s.remove_prefix(1);
    const auto point = s.find('.');
    std::string_view whole = s.substr(0, point);
    const auto first = whole.find(',');
    if (first == std::string_view::npos || first == 0 || first > 3) return false;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const bool separatorHere = i >= first && (i - first) % 4 == 0;
        if (separatorHere ? whole[i] != ',' : (whole[i] < '0' || whole[i] > '9')) return false;
    }
    return (whole.size() - first) % 4 == 0;
}

}  // namespace

template <typename T>
Number parseNumber(std::string_view text, bool thousands, T& value, std::size_t readable) {
    readable = std::max(readable, text.size());
    const std::string_view untrimmed = text;
    text = trimBlanks(text);
    readable -= static_cast<std::size_t>(text.data() - untrimmed.data());
    if (text.empty()) return Number::Empty;
    std::string plain;
    if (thousands && text.find(',') != std::string_view::npos && thousandsGrouped(text)) {
        for (char c : text) {
            if (c != ',') plain += c;
        }
        text = plain;
        readable = text.size();
    }
    if (readShortNumber(text, value, readable)) return Number::Ok;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (end != last || ec == std::errc::invalid_argument) return Number::NotANumber;
    if (ec != std::errc::result_out_of_range) return Number::Ok;
    if constexpr (std::is_same_v<T, float>) {
        double wide = 0;
        const auto [wideEnd, wideEc] = std::from_chars(text.data(), last, wide);
        if (wideEnd != last || wideEc != std::errc()) return Number::OutOfRange;
        value = static_cast<float>(wide);
        if (value == 0.0f) value = 0.0f;  // no negative zero from an underflow
        return Number::Ok;
    } else {
        return Number::OutOfRange;
    }
}

template Number parseNumber<float>(std::string_view, bool, float&, std::size_t);
template Number parseNumber<double>(std::string_view, bool, double&, std::size_t);

}  // namespace vlmstruct::reading
