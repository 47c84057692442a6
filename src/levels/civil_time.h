#pragma once
// Civil time with no zone, as bar files write it: seconds since 1970-01-01
// 00:00, the day they fall on and the calendar date of a day.

#include <cstdint>

namespace vlm::levels {

using Seconds = std::int64_t;

inline constexpr Seconds kMinute = 60;
inline constexpr Seconds kDay = 86400;

// a / b rounded down (b != 0), where C++ rounds toward zero.
inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The day a time falls on (days since 1970-01-01), and the seconds into it.
inline std::int64_t DayOf(Seconds t) { return FloorDiv(t, kDay); }
inline Seconds TimeOfDay(Seconds t) { return t - DayOf(t) * kDay; }

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day);

}  // namespace vlm::levels
