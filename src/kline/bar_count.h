#pragma once
// Bar indexes are signed 32-bit: every routine refuses a series it could not
// index instead of wrapping an index past the end of its output.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace vlm {

inline constexpr std::size_t kMaxBars = std::numeric_limits<std::int32_t>::max();

// Throws std::length_error for more bars than an index can hold.
inline void RequireBarIndex(std::size_t bars) {
    if (bars > kMaxBars) {
        throw std::length_error("too many bars: at most 2147483647 bars fit a 32-bit bar index");
    }
}

// Throws as RequireBarIndex, and std::invalid_argument when a series the
// routine reads is shorter than the bars it walks.
inline void RequireBars(std::size_t bars, std::size_t highBars, std::size_t lowBars) {
    RequireBarIndex(bars);
    if (highBars < bars || lowBars < bars) {
        throw std::invalid_argument("the highs and lows must cover every bar of the series");
    }
}

// Throws std::invalid_argument, naming the argument, unless `name` holds
// `expected` values (or none, where `orNone`): a library routine checks
// every span it is given before it reads one.
inline void RequireLength(const char* name, std::size_t size, std::size_t expected, bool orNone = false) {
    if (size == expected || (orNone && size == 0)) return;
    throw std::invalid_argument(std::string(name) + " has " + std::to_string(size) + " values, expected " +
                                std::to_string(expected) + (orNone ? " or none" : ""));
}

}  // namespace vlm
