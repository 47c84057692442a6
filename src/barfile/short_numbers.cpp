#include "barfile/short_numbers.h"

namespace vlmstruct::reading {

bool readShortDecimalText(std::string_view text, float& value) {
    if (text.empty()) return false;
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = *p == '-';
    if (negative) ++p;
    const char* const whole = p;
    std::uint32_t digits = 0;
    int significant = 0;
    // Leading zeros are not significant: 0.000123 has three digits.
    auto readDigits = [&]() {
        for (; p < end; ++p) {
            const auto d = static_cast<unsigned>(*p - '0');
            if (d > 9) break;
            digits = digits * 10 + d;
            if (digits > 0 && ++significant > 7) return false;
        }
        return true;
    };
    if (!readDigits() || p == whole) return false;
    std::size_t decimals = 0;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        if (!readDigits()) return false;
        decimals = static_cast<std::size_t>(p - fraction);
        if (decimals == 0 || decimals > 10) return false;
    }
    if (p != end) return false;
    value = shortDecimal(digits, decimals, negative);
    return true;
}

}  // namespace vlmstruct::reading
