#include "point_options.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "barfile/output_files.h"

namespace vlmstruct {

namespace {

[[noreturn]] void refuse(const std::string& option, const std::string& value, const std::string& why) {
    throw UsageError(option + " '" + value + "': " + why);
}

// The whole text as one integer of at least 1, or nothing.
bool positiveInteger(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 1;
}

}  // namespace

vlm::TradingPointOptions parsePointOptions(const PointOptionText& text) {
    vlm::TradingPointOptions options;
    if (text.macd) {
        const std::string& given = *text.macd;
        std::vector<std::string> parts(1);
        for (char c : given) {
            if (c == ',') parts.emplace_back();
            else parts.back() += c;
        }
        int periods[3] = {};
        if (parts.size() != 3) refuse("--macd", given, "give three periods, FAST,SLOW,SIGNAL (e.g. 12,26,9)");
        for (std::size_t k = 0; k < 3; ++k) {
            if (!positiveInteger(parts[k], periods[k])) {
                refuse("--macd", given, "each period must be a whole number of at least 1");
            }
        }
        options.macd = {periods[0], periods[1], periods[2]};
    }
    if (text.force) {
        const auto measure = vlm::ParseForceMeasure(*text.force);
        if (!measure) refuse("--force", *text.force, "the measures are area, full-area, peak and slope");
        options.force = *measure;
    }
    if (text.class1MinRun && !positiveInteger(*text.class1MinRun, options.class1MinRun)) {
        refuse("--class1-min-run", *text.class1MinRun, "must be a whole number of at least 1");
    }
    if (text.divergenceRatio) {
        const std::string& r = *text.divergenceRatio;
        double ratio = 0.0;
        const auto [ptr, ec] = std::from_chars(r.data(), r.data() + r.size(), ratio);
        if (ec != std::errc() || ptr != r.data() + r.size() || !std::isfinite(ratio) || !(ratio > 0.0)) {
            refuse("--divergence-ratio", r, "must be a finite number above 0");
        }
        options.divergenceRatio = ratio;
    }
    // The core's own check stays the last word.
    try {
        vlm::CheckTradingPointOptions(options);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    return options;
}

}  // namespace vlmstruct
