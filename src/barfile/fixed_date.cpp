// The usual date layout read a word at a time: most files write every date
// so, and this is the reader's cost per row; parseDateTime gives the same.
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "barfile/dates.h"

namespace vlmstruct {

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
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month) || d.hour > 23 ||
        d.minute > 59 || d.second > 59) {
        return FixedDate::Invalid;
    }
    d.hasTime = n > 10;
    d.hasSeconds = n == 19;
    into = d;
    return FixedDate::Valid;
}

}  // namespace vlmstruct
