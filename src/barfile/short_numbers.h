#pragma once
// Fast path, for speed: the numbers most files hold, read a word at a time
// without the general algorithm; for any text they take they must give the
// value parseNumber's from_chars gives (number_text.cpp), and refuse the rest.
// Internal to the bar-file reader.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vlmstruct::reading {

// Prices as files mostly write them, -?DIGITS[.DIGITS] with at most seven
// significant digits, rounded once to the nearest float as from_chars does.
// The digits are a whole number below 10^7 and k decimals at most ten: such
// a decimal is never a midpoint between two floats, and its double product
// with 10^-k rounds to the float the quotient rounds to (for k up to 8
// because the product strays less, a relative 2^-52, than the decimal lies
// from any midpoint, at least 2^-25 * 10^-k; for every such number and k
// up to 10 by trying them all). No division is needed.
inline constexpr double kInverseTens[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9, 1e-10};

inline float shortDecimal(std::uint32_t digits, std::size_t decimals, bool negative) {
    const auto magnitude = static_cast<float>(static_cast<double>(digits) * kInverseTens[decimals]);
    return negative ? -magnitude : magnitude;
}

// The bytes below byte n of a word, and the factor that moves the n lowest
// bytes to its top (a shift, as a product cheaper than one by a variable).
inline constexpr std::array<std::uint64_t, 9> kBytesBelow = {
    0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, ~std::uint64_t{0}};
inline constexpr std::array<std::uint64_t, 9> kToTop = {0,          1ULL << 56, 1ULL << 48, 1ULL << 40, 1ULL << 32,
                                                        1ULL << 24, 1ULL << 16, 1ULL << 8,  1};

// Text of one to eight bytes held in `word`, its first byte lowest (the
// bytes past `length` may be anything), in the form -?DIGITS[.DIGITS]:
// checked without a branch per character and left as its eight digits,
// the first one highest, '0's above the text's own, with its sign and its
// count of decimals. False for any other text.
struct ShortDigits {
    std::uint64_t word;  // eight ASCII digits
    std::size_t decimals;
    bool negative;
};
[[gnu::always_inline]] inline bool shortDecimalShape(std::uint64_t word, std::size_t length, ShortDigits& out) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kZeros = 0x3030303030303030ULL;
    const bool negative = (word & 0xFF) == '-';
    if (negative) {
        word >>= 8;
        --length;
    }
    if (length == 0) return false;
    // The high bit of the first point's byte, and of none before it (a
    // borrow only reaches the bytes after a point).
    const std::uint64_t x = word ^ (kOnes * '.');
    const std::uint64_t point = (x - kOnes) & ~x & (kOnes * 0x80) & kBytesBelow[length];
    std::size_t digitCount = length, decimals = 0;
    if (point != 0) {
        const auto at = static_cast<std::size_t>(std::countr_zero(point)) / 8;
        if (at == 0 || at + 1 == length) return false;  // .5 or 5.
        decimals = length - 1 - at;
        // A second point stays among the digits, and is refused with them.
        word = (word & kBytesBelow[at]) | ((word >> 8) & ~kBytesBelow[at]);
        --digitCount;
    }
    // The digits at the top of the word and '0's below: eight digits, the
    // first one highest.
    word = word * kToTop[digitCount] + (kZeros & kBytesBelow[8 - digitCount]);
    constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ULL;
    if (((word & kHighNibbles) | (((word + kOnes * 6) & kHighNibbles) >> 4)) != kOnes * 0x33) return false;
    out = {word, decimals, negative};
    return true;
}

// The short rule for such text.
[[gnu::always_inline]] inline bool readShortDecimalWord(std::uint64_t word, std::size_t length, float& value) {
    ShortDigits d{};
    if (!shortDecimalShape(word, length, d)) return false;
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;
    word = d.word - kZeros;
    word = word * 10 + (word >> 8);
    constexpr std::uint64_t kPairs = 0x000000FF000000FFULL;
    word = (((word & kPairs) * 0x000F424000000064ULL) + (((word >> 16) & kPairs) * 0x0000271000000001ULL)) >> 32;
    const auto digits = static_cast<std::uint32_t>(word);
    if (digits >= 10000000) return false;  // more than seven significant digits
    value = shortDecimal(digits, d.decimals, d.negative);
    return true;
}

// The same rule a character at a time, for any length.
bool readShortDecimalText(std::string_view text, float& value);

// The text's bytes in a word, its first byte lowest; `readable` bytes
// from text.data() on may be read (at least text.size(), at most eight of
// which are taken).
[[gnu::always_inline]] inline std::uint64_t wordOf(std::string_view text, std::size_t readable) {
    std::uint64_t word = 0;
    if (readable >= 8) {
        std::memcpy(&word, text.data(), sizeof word);
    } else {
        for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
            word |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
        }
    }
    return word;
}

// `readable` as for wordOf.
[[gnu::always_inline]] inline bool readShortDecimal(std::string_view text, float& value, std::size_t readable) {
    if constexpr (std::endian::native == std::endian::little) {
        if (!text.empty() && text.size() <= 8) return readShortDecimalWord(wordOf(text, readable), text.size(), value);
    }
    return readShortDecimalText(text, value);
}

// Whether parseNumber reads the text as a finite number, for a value that
// is checked but not kept, where that is sure without reading it: eight
// bytes or fewer in the form -?DIGITS[.DIGITS] always are (eight digits
// stay far below the largest float). False says nothing.
[[gnu::always_inline]] inline bool surelyFiniteNumber(std::string_view text, std::size_t readable) {
    if constexpr (std::endian::native == std::endian::little) {
        ShortDigits d{};
        return !text.empty() && text.size() <= 8 && shortDecimalShape(wordOf(text, readable), text.size(), d);
    }
    return false;
}

// Volumes as files mostly write them, whole numbers of at most fifteen
// digits: exact in a double, read without the general algorithm.
inline bool readWholeNumber(std::string_view text, double& value) {
    if (text.empty() || text.size() > 15) return false;
    std::uint64_t n = 0;
    for (const char c : text) {
        const auto d = static_cast<unsigned>(c - '0');
        if (d > 9) return false;
        n = n * 10 + d;
    }
    value = static_cast<double>(n);
    return true;
}

// The shortcut of each kind of value: prices are floats, volumes doubles.
[[gnu::always_inline]] inline bool readShortNumber(std::string_view text, float& value, std::size_t readable) {
    return readShortDecimal(text, value, readable);
}
[[gnu::always_inline]] inline bool readShortNumber(std::string_view text, double& value, std::size_t) {
    return readWholeNumber(text, value);
}

}  // namespace vlmstruct::reading
