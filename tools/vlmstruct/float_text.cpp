#include "float_text.h"

#include <charconv>
#include <cmath>

namespace vlmstruct {

std::string formatFloat(float v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

}  // namespace vlmstruct
