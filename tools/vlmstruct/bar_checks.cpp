#include "bar_checks.h"

#include <cmath>

#include "float_text.h"

namespace vlmstruct {

namespace {

bool digits(std::string_view s, std::size_t from, std::size_t count, int& value) {
    if (from + count > s.size()) return false;
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

int daysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A one- or two-digit number ending at a separator or the end.
bool part(std::string_view s, std::size_t& at, char separator, int& value) {
    const std::size_t end = separator ? s.find(separator, at) : s.size();
    if (end == std::string_view::npos || end == at || end - at > 2) return false;
    if (!digits(s, at, end - at, value)) return false;
    at = end + (separator ? 1 : 0);
    return true;
}

char* putDigits(char* out, int v, int width) {
    for (int k = width - 1; k >= 0; --k) {
        out[k] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return out + width;
}

}  // namespace

char* writeDateText(char* out, const DateTime& d, bool withSeconds) {
    out = putDigits(out, d.year, 4);
    *out++ = '-';
    out = putDigits(out, d.month, 2);
    *out++ = '-';
    out = putDigits(out, d.day, 2);
    if (!d.hasTime) return out;
    *out++ = ' ';
    out = putDigits(out, d.hour, 2);
    *out++ = ':';
    out = putDigits(out, d.minute, 2);
    if (!withSeconds) return out;
    *out++ = ':';
    return putDigits(out, d.second, 2);
}

void appendDateText(std::string& out, const DateTime& d, bool withSeconds) {
    char buffer[DateStamp::kTextSize];
    out.append(buffer, writeDateText(buffer, d, withSeconds));
}

std::string DateTime::dayText() const {
    DateTime day = *this;
    day.hasTime = false;
    std::string out;
    appendDateText(out, day, false);
    return out;
}

std::string DateTime::key() const {
    DateTime full = *this;
    full.hasTime = true;
    std::string out;
    appendDateText(out, full, true);
    return out;
}

std::string DateTime::text(bool withSeconds) const {
    std::string out;
    appendDateText(out, *this, withSeconds);
    return out;
}

DateTime DateStamp::dateTime() const {
    DateTime d;
    std::uint64_t key = bits_ >> 2;
    auto take = [&key](int& part) {
        part = static_cast<int>(key % 100);
        key /= 100;
    };
    take(d.second);
    take(d.minute);
    take(d.hour);
    take(d.day);
    take(d.month);
    d.year = static_cast<int>(key);
    d.hasTime = (bits_ & 2) != 0;
    d.hasSeconds = (bits_ & 1) != 0;
    return d;
}

bool parseTimeOfDay(std::string_view text, DateTime& into) {
    text = trimBlanks(text);
    if ((text.size() != 5 && text.size() != 8) || text[2] != ':' || (text.size() == 8 && text[5] != ':')) {
        return false;
    }
    int h = 0, m = 0, s = 0;
    if (!digits(text, 0, 2, h) || !digits(text, 3, 2, m) || (text.size() == 8 && !digits(text, 6, 2, s))) {
        return false;
    }
    if (h > 23 || m > 59 || s > 59) return false;
    into.hasTime = true;
    into.hasSeconds = text.size() == 8;
    into.hour = h;
    into.minute = m;
    into.second = s;
    return true;
}

namespace {

// Two digits at s[at], at, at + 1; -1 unless both are digits.
int twoDigits(const char* s) {
    const auto tens = static_cast<unsigned>(s[0] - '0'), ones = static_cast<unsigned>(s[1] - '0');
    return tens <= 9 && ones <= 9 ? static_cast<int>(tens * 10 + ones) : -1;
}

}  // namespace

FixedDate readFixedDateTime(std::string_view text, DateTime& into) {
    const std::size_t n = text.size();
    const char* s = text.data();
    if (!((n == 10 || n == 16 || n == 19) && s[4] == '-' && s[7] == '-' &&
          (n == 10 || ((s[10] == ' ' || s[10] == 'T') && s[13] == ':' && (n == 16 || s[16] == ':'))))) {
        return FixedDate::Other;
    }
    const int century = twoDigits(s), year = twoDigits(s + 2), month = twoDigits(s + 5), day = twoDigits(s + 8);
    const int hour = n > 10 ? twoDigits(s + 11) : 0, minute = n > 10 ? twoDigits(s + 14) : 0;
    const int second = n == 19 ? twoDigits(s + 17) : 0;
    // A place that is not a digit: the general rules read it (and refuse it).
    if ((century | year | month | day | hour | minute | second) < 0) return FixedDate::Other;
    DateTime d;
    d.year = century * 100 + year;
    d.month = month;
    d.day = day;
    d.hour = hour;
    d.minute = minute;
    d.second = second;
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysIn(d.year, d.month) || d.hour > 23 ||
        d.minute > 59 || d.second > 59) {
        return FixedDate::Invalid;
    }
    d.hasTime = n > 10;
    d.hasSeconds = n == 19;
    into = d;
    return FixedDate::Valid;
}

std::optional<DateTime> parseDateTime(std::string_view text) {
    text = trimBlanks(text);
    DateTime fixed;
    switch (readFixedDateTime(text, fixed)) {
        case FixedDate::Valid: return fixed;
        case FixedDate::Invalid: return std::nullopt;
        case FixedDate::Other: break;
    }
    std::string_view day = text, time;
    const auto cut = text.find_first_of(" T");
    if (cut != std::string_view::npos) {
        day = text.substr(0, cut);
        time = trimBlanks(text.substr(cut + 1));
        if (time.empty()) return std::nullopt;
    }
    DateTime d;
    if (day.size() == 8 && digits(day, 0, 8, d.year)) {
        digits(day, 0, 4, d.year);
        digits(day, 4, 2, d.month);
        digits(day, 6, 2, d.day);
    } else {
        if (day.size() < 5 || !digits(day, 0, 4, d.year)) return std::nullopt;
        const char separator = day[4];
        if (separator != '-' && separator != '/' && separator != '.') return std::nullopt;
        std::size_t at = 5;
        if (!part(day, at, separator, d.month) || !part(day, at, '\0', d.day)) return std::nullopt;
    }
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysIn(d.year, d.month)) {
        return std::nullopt;
    }
    if (!time.empty() && !parseTimeOfDay(time, d)) return std::nullopt;
    return d;
}

std::optional<std::string> normaliseDate(const std::string& text) {
    const auto d = parseDateTime(text);
    if (!d) return std::nullopt;
    return d->text(d->hasSeconds);
}

std::optional<std::string> barProblem(float high, float low) {
    if (!lowAboveHigh(high, low)) return std::nullopt;
    return "low " + formatFloat(low) + " is above high " + formatFloat(high);
}

std::optional<PriceProblem> checkPrices(const PriceColumns& c) {
    const std::pair<std::span<const float>, Column> columns[] = {
        {c.open, Column::Open}, {c.high, Column::High},     {c.low, Column::Low},
        {c.close, Column::Close}, {c.volume, Column::Volume}};
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
