#pragma once
// Fast path, for speed: most rows hold no quote and no blank around a field,
// and are read here without the general splitter; a row it takes must read
// exactly as readRow (bar_reader.cpp) reads it, and any other is left to it.
// Internal to the bar-file reader, included only where Reader::read is
// defined: its pieces are forced inline into the loop over the rows, since
// left to itself the compiler calls them once a row or once a value.

#include <bit>
#include <cstdint>
#include <cstring>

#include "barfile/bar_reader.h"
#include "barfile/number_text.h"
#include "barfile/plain_line_sse2.h"
#include "barfile/price_checks.h"
#include "barfile/short_numbers.h"

namespace vlmstruct::reading {

// The first of plainStops_ in [p, end), or end: eight bytes at a time,
// since fields are mostly shorter than that.
[[gnu::always_inline]] inline const char* Reader::nextPlainStop(const char* p, const char* end) const {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
        // The high bit of the lowest zero byte is set, and none below it.
        auto zeroBytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
        const std::uint64_t delimiters = kOnes * static_cast<unsigned char>(delimiter_);
        for (; end - p >= 8; p += 8) {
            std::uint64_t w;
            std::memcpy(&w, p, sizeof w);
            const std::uint64_t stops = zeroBytes(w ^ delimiters) | zeroBytes(w ^ (kOnes * '\n')) |
                                        zeroBytes(w ^ (kOnes * '\r')) | zeroBytes(w ^ (kOnes * '"'));
            if (stops != 0) return p + std::countr_zero(stops) / 8;
        }
    }
    while (p < end && !plainStops_[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// The usual row, read without the general splitter where that gives the
// same: a whole line, its line end in the window, with no quote and no
// blank around a field, so that its fields are the text between its
// delimiters. Anything the general path would refuse or treat otherwise
// (a blank line, another number of fields, a value the number and date
// rules do not take as they stand, a low above its high) leaves the row
// untouched and returns false: the general path then reads it and gives
// its message.
[[gnu::always_inline]] inline bool Reader::readPlainRow(std::string_view text, bool last, std::size_t& pos,
                                                       std::size_t& line) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    if (pos == text.size()) return false;
    std::size_t count = 0;
    bool empty = true;
    const char* p = splitPlainLine(begin + pos, end, count, empty);
    if (p == nullptr || empty) return false;
    if (p == end) {
        if (!last) return false;
    } else if (*p == '\r') {
        // CR LF is one line end: the LF must be in the text to tell.
        if (p + 1 == end && !last) return false;
    } else if (*p != '\n') {
        return false;  // a quote
    }
    // Trailing delimiters add empty fields; they carry nothing.
    while (count > names_.size() && plainFields_[count - 1].empty()) --count;
    if (count != names_.size()) return false;
    RowValues values;
    for (std::size_t k = 0; k < keptCount_; ++k) {
        const std::size_t v = kept_[k].value;
        const std::string_view field = plainFields_[kept_[k].field];
        const auto readable = static_cast<std::size_t>(end - field.data());
        const bool good = values.at(v, [&](auto& value) __attribute__((always_inline)) {
            // What parseNumber gives for a field without blanks around it
            // that the short form reads (no thousands separators then).
            if (!kept_[k].stored() ? surelyFiniteNumber(field, readable)
                                   : readShortNumber(field, value, readable)) {
                return true;
            }
            return parseNumber(field, v == kVolume, value, readable) == Number::Ok &&
                   valueProblem(value) == nullptr;
        });
        if (!good) return false;
    }
    if (lowAboveHigh(values.price[1], values.price[2])) return false;
    DateTime date;
    if (const int dc = column(Column::Date); dc >= 0) {
        const int tc = column(Column::Time);
        const std::string_view dateText = plainFields_[static_cast<std::size_t>(dc)];
        if (tc < 0) {
            if (readFixedDateTime(dateText, date) != FixedDate::Valid) {
                const auto other = parseDateTime(dateText);
                if (!other) return false;
                date = *other;
            }
        } else if (combineDate(dateText, plainFields_[static_cast<std::size_t>(tc)], date) != DateFault::None) {
            return false;
        }
    }
    keepRow(line, date, values);
    if (p < end) p += *p == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;
    pos = static_cast<std::size_t>(p - begin);
    ++line;
    return true;
}

}  // namespace vlmstruct::reading
