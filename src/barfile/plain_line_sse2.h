#pragma once
// Fast path, for speed: a plain row's fields found with SSE2, sixty-four and
// sixteen bytes at a time instead of eight; it must split a line exactly as
// the loop over nextPlainStop at its end does (plain_row.h). Internal to the
// bar-file reader, included by plain_row.h only.

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "barfile/bar_reader.h"

namespace vlmstruct::reading {

// Splits the line at p into plainFields_ up to the first line end or
// quote, or the end; returns where it stopped, or nullptr for a field
// with blanks around it or too many fields. Sixty-four bytes at a time,
// then sixteen, where the processor has the instructions; eight otherwise.
[[gnu::always_inline]] inline const char* Reader::splitPlainLine(const char* p, const char* end, std::size_t& count,
                                                                bool& empty) {
    const char* field = p;
    // Blanks around a field are trimmed: the general path does that.
    auto add = [&](const char* to) {
        if (count == plainFields_.size() || (to != field && (blank(*field) || blank(to[-1])))) return false;
        plainFields_[count++] = std::string_view(field, static_cast<std::size_t>(to - field));
        empty = empty && to == field;
        field = to + 1;
        return true;
    };
#if defined(__SSE2__)
    const __m128i delimiters = _mm_set1_epi8(delimiter_), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'),
                  quote = _mm_set1_epi8('"');
    // Sixty-four bytes, most rows whole, as two masks: the delimiters
    // and the stops. A row then takes as many turns of the loop below as
    // it has fields, the same for every row of a file, so that the
    // processor foresees them.
    for (; end - p >= 64; p += 64) {
        std::uint64_t at = 0, stops = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
            const auto a = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters)));
            const auto s = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)), _mm_cmpeq_epi8(bytes, quote))));
            at |= std::uint64_t{a} << (16 * part);
            stops |= std::uint64_t{s} << (16 * part);
        }
        if (stops != 0) at &= (stops & (~stops + 1)) - 1;
        for (; at != 0; at &= at - 1) {
            if (!add(p + std::countr_zero(at))) return nullptr;
        }
        if (stops != 0) {
            const char* const stop = p + std::countr_zero(stops);
            return add(stop) ? stop : nullptr;
        }
    }
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        auto at = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters)));
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)), _mm_cmpeq_epi8(bytes, quote))));
        if (stops != 0) at &= (1u << std::countr_zero(stops)) - 1;
        for (; at != 0; at &= at - 1) {
            if (!add(p + std::countr_zero(at))) return nullptr;
        }
        if (stops != 0) {
            const char* const stop = p + std::countr_zero(stops);
            return add(stop) ? stop : nullptr;
        }
    }
#endif
    while (true) {
        p = nextPlainStop(p, end);
        if (!add(p)) return nullptr;
        if (p == end || *p != delimiter_) return p;
        ++p;
    }
}

}  // namespace vlmstruct::reading
