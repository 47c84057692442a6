#pragma once
// Columns of numbers packed for the chart page, which unpacks them with
// decodeColumn() in tools/chart/chart_template.html. A million bars then
// take a few tens of bytes each instead of a JSON object per bar.
//
// A column is written as a JSON object:
//   {"n": COUNT, "dec": D, "delta": true|false, "v": BASE64}
//     each value is an integer m over 10^D; the base64 bytes are unsigned
//     LEB128 varints, one per value: 0 for NaN, else 1 + zigzag(m - previous
//     m) with delta (previous m starting at 0 and kept across NaN), or
//     1 + zigzag(m) without;
//   {"n": COUNT, "f32": BASE64} (or "f64" for doubles)
//     the raw little-endian values, where no D up to 8 gives every value
//     back exactly (or a value is infinite or too large).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vlmstruct::chart {

enum class Coding { Delta, Plain };

std::string base64(std::string_view bytes);

// Floats given back exactly as float32 by the page.
std::string numberColumn(std::span<const float> values, Coding coding = Coding::Delta);
// Doubles given back exactly as doubles ("f64" for the raw form).
std::string numberColumn(std::span<const double> values, Coding coding = Coding::Delta);
// Integers of at most 2^50 in magnitude.
std::string integerColumn(std::span<const std::int64_t> values, Coding coding = Coding::Delta);

// Bar dates ("YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]", as the bar reader
// gives them) as {"unit": U, "form": L, "t": integer column} with t the
// seconds since 1970-01-01 over U and L the length of every date's text;
// {"text": [...]} where the dates do not share one form the page can write
// back (mixed lengths, years outside 0000-9999).
std::string dateColumn(const std::vector<std::string>& dates);

}  // namespace vlmstruct::chart
