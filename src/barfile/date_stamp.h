#pragma once

#include <cstddef>
#include <cstdint>

#include "barfile/dates.h"

namespace vlmstruct {

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

}  // namespace vlmstruct
