#include "barfile/dates.h"

#include <string_view>

#include "barfile/date_stamp.h"
#include "barfile/text_blanks.h"

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
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month)) {
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

}  // namespace vlmstruct
