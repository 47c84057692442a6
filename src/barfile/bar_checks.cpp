#include "barfile/bar_checks.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <initializer_list>

#include "barfile/float_text.h"

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

// `Count` bytes (at most eight) from s, the first one lowest.
template <std::size_t Count>
inline std::uint64_t littleWord(const char* s) {
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, s, Count);
    } else {
        for (std::size_t i = 0; i < Count; ++i) word |= std::uint64_t{static_cast<unsigned char>(s[i])} << (8 * i);
    }
    return word;
}

// The bytes of a word at the places given, and a character at each of them.
constexpr std::uint64_t byteMask(std::initializer_list<int> bytes) {
    std::uint64_t mask = 0;
    for (const int b : bytes) mask |= std::uint64_t{0xFF} << (8 * b);
    return mask;
}
constexpr std::uint64_t bytesOf(char c, std::uint64_t mask) {
    return (0x0101010101010101ULL * static_cast<unsigned char>(c)) & mask;
}

// The places of `mask` minus '0' are all digits (0 to 9).
inline bool allDigits(std::uint64_t lessZeros, std::uint64_t mask) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL, kHigh = 0x8080808080808080ULL;
    // The high bit of a byte is set where it is 10 or more.
    return ((((lessZeros & kLow7) + 0x7676767676767676ULL) | lessZeros) & kHigh & mask) == 0;
}

// Byte k of the result: digit k times ten plus digit k + 1, for the digits
// at the places of `mask` (the others count as 0).
inline std::uint64_t digitPairs(std::uint64_t lessZeros, std::uint64_t mask) {
    const std::uint64_t d = lessZeros & mask;
    return d * 10 + (d >> 8);
}

}  // namespace

FixedDate readFixedDateTime(std::string_view text, DateTime& into) {
    // YYYY-MM-DD, then " HH:MM" or with ":SS", read as words: the date's
    // eight bytes, the next eight (or two), and for seconds the last eight.
    const std::size_t n = text.size();
    if (n != 10 && n != 16 && n != 19) return FixedDate::Other;
    const char* s = text.data();
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;
    const std::uint64_t first = littleWord<8>(s);
    const std::uint64_t second = n == 10 ? littleWord<2>(s + 8) : littleWord<8>(s + 8);
    const std::uint64_t last = n == 19 ? littleWord<8>(s + 11) : 0;
    constexpr std::uint64_t kDashes = byteMask({4, 7}), kFirstDigits = byteMask({0, 1, 2, 3, 5, 6});
    constexpr std::uint64_t kSpace = byteMask({2}), kColon = byteMask({5});
    const std::uint64_t secondDigits = n == 10 ? byteMask({0, 1}) : byteMask({0, 1, 3, 4, 6, 7});
    const std::uint64_t lastDigits = n == 19 ? byteMask({6, 7}) : 0;
    const bool separators =
        (first & kDashes) == bytesOf('-', kDashes) &&
        (n == 10 || (((second & kSpace) == bytesOf(' ', kSpace) || (second & kSpace) == bytesOf('T', kSpace)) &&
                     (second & kColon) == bytesOf(':', kColon))) &&
        (n != 19 || (last & kColon) == bytesOf(':', kColon));
    // A place that is not a digit: the general rules read it (and refuse it).
    if (!separators || !allDigits(first ^ kZeros, kFirstDigits) || !allDigits(second ^ kZeros, secondDigits) ||
        !allDigits(last ^ kZeros, lastDigits)) {
        return FixedDate::Other;
    }
    const std::uint64_t datePairs = digitPairs(first ^ kZeros, kFirstDigits);
    const std::uint64_t timePairs = digitPairs(second ^ kZeros, secondDigits);
    DateTime d;
    d.year = static_cast<int>(datePairs & 0xFF) * 100 + static_cast<int>((datePairs >> 16) & 0xFF);
    d.month = static_cast<int>((datePairs >> 40) & 0xFF);
    d.day = static_cast<int>(timePairs & 0xFF);
    d.hour = static_cast<int>((timePairs >> 24) & 0xFF);
    d.minute = static_cast<int>((timePairs >> 48) & 0xFF);
    d.second = static_cast<int>((digitPairs(last ^ kZeros, lastDigits) >> 48) & 0xFF);
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
