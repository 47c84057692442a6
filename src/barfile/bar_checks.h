#pragma once
// The rules a series of bars meets before the structures are computed from
// it, whoever hands it over: the bar-file reader and the Python module both
// call these, so a bar refused by one is refused by the other.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "barfile/bar_columns.h"

namespace vlmstruct {

// The text without the spaces and tabs around it.
inline std::string_view trimBlanks(std::string_view s) {
    std::size_t first = 0, last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t')) ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t')) --last;
    return s.substr(first, last - first);
}

// A calendar date, with a time of day when one was given.
struct DateTime {
    int year = 0, month = 0, day = 0;
    bool hasTime = false;
    bool hasSeconds = false;  // the text gave seconds (09:30:00 rather than 09:30)
    int hour = 0, minute = 0, second = 0;

    [[nodiscard]] std::string dayText() const;  // YYYY-MM-DD
    // YYYY-MM-DD HH:MM:SS, midnight without a time: equal keys are the same
    // bar, and keys sort in time order.
    [[nodiscard]] std::string key() const;
    // YYYY-MM-DD, or with " HH:MM" / " HH:MM:SS".
    [[nodiscard]] std::string text(bool withSeconds) const;
};

// Appends YYYY-MM-DD, or with " HH:MM" / " HH:MM:SS" when it has a time:
// DateTime::text without a string of its own, for writers of many dates.
void appendDateText(std::string& out, const DateTime& d, bool withSeconds);
// The same text at `out` (at most 19 characters); returns its end.
char* writeDateText(char* out, const DateTime& d, bool withSeconds);

// A DateTime in 64 bits, for series of many bars: its key as the number
// YYYYMMDDhhmmss, and whether it had a time and seconds. Stamps compare as
// their keys do, so equal stamps are the same bar.
class DateStamp {
public:
    DateStamp() = default;
    explicit DateStamp(const DateTime& d)
        : bits_(((((((static_cast<std::uint64_t>(d.year) * 100 + static_cast<std::uint64_t>(d.month)) * 100 +
                     static_cast<std::uint64_t>(d.day)) * 100 + static_cast<std::uint64_t>(d.hour)) * 100 +
                   static_cast<std::uint64_t>(d.minute)) * 100 + static_cast<std::uint64_t>(d.second))
                 << 2) |
                (d.hasTime ? 2u : 0u) | (d.hasSeconds ? 1u : 0u)) {}
    [[nodiscard]] DateTime dateTime() const;
    [[nodiscard]] bool hasSeconds() const { return (bits_ & 1) != 0; }
    // DateTime::text of it at `out`; returns the end.
    static constexpr std::size_t kTextSize = 19;
    char* write(char* out, bool withSeconds) const { return writeDateText(out, dateTime(), withSeconds); }
    friend bool operator<(DateStamp a, DateStamp b) { return a.bits_ >> 2 < b.bits_ >> 2; }
    friend bool operator==(DateStamp a, DateStamp b) { return a.bits_ >> 2 == b.bits_ >> 2; }

private:
    std::uint64_t bits_ = 0;  // key << 2 | hasTime << 1 | hasSeconds
};

// YYYY-MM-DD, YYYY/MM/DD, YYYY.MM.DD (one-digit month and day allowed) or
// YYYYMMDD, then optionally " " or "T" and HH:MM or HH:MM:SS. nullopt for
// anything else, and for dates and times that do not exist (2024-02-31,
// year 0000, 09:30:99).
std::optional<DateTime> parseDateTime(std::string_view text);
// The usual layout alone, YYYY-MM-DD with " HH:MM" or " HH:MM:SS" (or 'T'),
// at fixed places and without surrounding blanks; parseDateTime gives the
// same for text in it. Other when the text is laid out otherwise.
enum class FixedDate { Valid, Invalid, Other };
FixedDate readFixedDateTime(std::string_view text, DateTime& into);
// HH:MM or HH:MM:SS alone, as a time column beside a date column holds it.
bool parseTimeOfDay(std::string_view text, DateTime& into);

// The date as the reader writes it (month and day padded, time as given);
// nullopt when it is not a date.
std::optional<std::string> normaliseDate(const std::string& text);

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

struct DateOrder {
    std::vector<std::size_t> order;  // positions in ascending date order; empty when already ascending
    // The first date given twice, in date order: the earlier and the later position.
    std::optional<std::pair<std::size_t, std::size_t>> duplicate;
};

// Rows out of order are sorted (stably); equal keys are duplicates.
template <typename Key>
DateOrder orderByDate(std::span<const Key> keys) {
    DateOrder result;
    // Files are mostly in order already: the positions are then their own
    // order, and a duplicate is a key equal to the one before it.
    if (std::is_sorted(keys.begin(), keys.end())) {
        for (std::size_t r = 1; r < keys.size(); ++r) {
            if (keys[r] == keys[r - 1]) {
                result.duplicate = std::pair{r - 1, r};
                break;
            }
        }
        return result;
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t r = 1; r < order.size(); ++r) {
        if (keys[order[r]] == keys[order[r - 1]]) {
            result.duplicate = std::pair{order[r - 1], order[r]};
            break;
        }
    }
    result.order = std::move(order);
    return result;
}

}  // namespace vlmstruct
