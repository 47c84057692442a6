#pragma once
// Bar dates: the layouts a file may write them in, read into a calendar date
// with an optional time of day, and written back as the reader writes them.

#include <optional>
#include <string>
#include <string_view>

namespace vlmstruct {

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

// Days in the month of that year.
inline int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace vlmstruct
