#pragma once
// The rules a series of bars meets before the structures are computed from
// it, whoever hands it over: the bar-file reader and the Python module both
// call these, so a bar refused by one is refused by the other.

#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "barfile/bar_columns.h"

namespace vlmstruct {

// nullptr when v can be used as a price or volume, else what is wrong with it.
inline const char* valueProblem(float v) { return std::isfinite(v) ? nullptr : "not a finite number"; }
inline const char* valueProblem(double v) { return std::isfinite(v) ? nullptr : "not a finite number"; }
// The one test barProblem makes, for callers that only need to know.
inline bool lowAboveHigh(float high, float low) { return low > high; }
// nullopt when the bar's low is not above its high, else the complaint.
std::optional<std::string> barProblem(float high, float low);

// The price columns of a series; an empty span is a column the series lacks.
struct PriceColumns {
    std::span<const float> open = {}, high = {}, low = {}, close = {};
};

struct PriceProblem {
    std::size_t row;  // position in the series
    Column column;
    std::string what;
};

// The first problem in row order (columns left to right within a row).
std::optional<PriceProblem> checkPrices(const PriceColumns& columns);

}  // namespace vlmstruct
