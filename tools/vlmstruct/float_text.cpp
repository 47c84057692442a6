#include "float_text.h"

#include <charconv>
#include <cmath>

namespace vlmstruct {

void appendFloat(std::string& out, float v) {
    if (std::isnan(v)) {
        out += "nan";
        return;
    }
    if (std::isinf(v)) {
        out += v > 0 ? "inf" : "-inf";
        return;
    }
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (ec == std::errc()) {
        out.append(buffer, end);
    } else {
        out += "nan";
    }
}

std::string formatFloat(float v) {
    std::string out;
    appendFloat(out, v);
    return out;
}

}  // namespace vlmstruct
