#pragma once
// The trading-point options as the command line spells them: --macd
// FAST,SLOW,SIGNAL, --force MEASURE, --class1-min-run N, --divergence-ratio R.

#include <optional>
#include <string>

#include "points/trading_points.h"

namespace vlmstruct {

struct PointOptionText {
    std::optional<std::string> macd, force, class1MinRun, divergenceRatio;  // absent: the default
};

// Throws UsageError naming the option and the value refused.
vlm::TradingPointOptions parsePointOptions(const PointOptionText& text);

}  // namespace vlmstruct
