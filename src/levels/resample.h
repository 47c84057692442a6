#pragma once
// Higher-level bars from a base series: N-minute, daily, weekly (ISO weeks)
// and monthly, open first, high max, low min, close last, volume summed.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vlm::levels {

// Civil time with no zone: seconds since 1970-01-01 00:00, as the bar file
// wrote it.
using Seconds = std::int64_t;

inline constexpr Seconds kMinute = 60;
inline constexpr Seconds kDay = 86400;

struct Period {
    enum class Unit { Minute, Day, Week, Month };
    Unit unit = Unit::Day;
    int minutes = 0;  // for Unit::Minute: divides 60, or is a multiple of 60 that divides a day

    friend bool operator==(const Period&, const Period&) = default;
};

// "5min", "30min", "60min", "120min", "day", "week", "month" (also "1h",
// "2h", "d", "w", "m"); nothing for anything else.
std::optional<Period> ParsePeriod(std::string_view text);
std::string PeriodName(const Period& period);

enum class Bins {
    Session,  // intraday bins counted from each session's first bar
    Clock,    // intraday bins at clock multiples of N minutes from midnight
};

struct ResampleOptions {
    Bins bins = Bins::Session;
    // A gap between two bars longer than this starts a new session; 0 means
    // the default, max(2 x base interval, base interval + 15 minutes), where
    // the base interval is the smallest gap between two bars of the series.
    Seconds sessionGap = 0;
};

// open, close and volume may be empty; high and low hold one value per time.
struct BaseBars {
    std::span<const Seconds> time;
    std::span<const float> open, high, low, close, volume;
};

struct LevelBars {
    std::vector<Seconds> time;  // the time of the bar's last base bar
    std::vector<float> open, high, low, close, volume;  // empty where the base has none
    std::vector<std::int32_t> firstBase, lastBase;     // the base bars it holds
    // The last bar's period may not be over yet: more base bars could still
    // join it. Only the last bar can be unfinished.
    bool lastUnfinished = false;
    [[nodiscard]] std::size_t size() const { return high.size(); }
};

// Throws std::invalid_argument for times out of order, series of different
// lengths, or an intraday period shorter than the base interval.
LevelBars Resample(const BaseBars& base, const Period& period, const ResampleOptions& options = {});

// The base interval and the session gap in force for a series.
Seconds BaseInterval(std::span<const Seconds> time);
Seconds SessionGap(std::span<const Seconds> time, const ResampleOptions& options);

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day);

}  // namespace vlm::levels
