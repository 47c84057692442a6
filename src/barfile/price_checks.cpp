#include "barfile/price_checks.h"

#include <utility>

#include "barfile/float_text.h"

namespace vlmstruct {

std::optional<std::string> barProblem(float high, float low) {
    if (!lowAboveHigh(high, low)) return std::nullopt;
    return "low " + formatFloat(low) + " is above high " + formatFloat(high);
}

std::optional<PriceProblem> checkPrices(const PriceColumns& c) {
    const std::pair<std::span<const float>, Column> columns[] = {
        {c.open, Column::Open}, {c.high, Column::High},     {c.low, Column::Low},
        {c.close, Column::Close}};
    const std::size_t n = c.high.size();
    for (std::size_t r = 0; r < n; ++r) {
        for (const auto& [values, column] : columns) {
            if (values.empty()) continue;
            if (const char* what = valueProblem(values[r])) {
                return PriceProblem{r, column, std::string(what) + " (" + formatFloat(values[r]) + ")"};
            }
        }
        if (!c.low.empty()) {
            if (auto what = barProblem(c.high[r], c.low[r])) return PriceProblem{r, Column::Low, *what};
        }
    }
    return std::nullopt;
}

}  // namespace vlmstruct

