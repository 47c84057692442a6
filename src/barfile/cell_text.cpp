#include "barfile/cell_text.h"
#include "faces/replay_columns.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vlmstruct {

char* FloatMemo::write(char* out, float v) {
    if (std::isnan(v)) return std::to_chars(out, out + kFloatTextSize, v).ptr;
    const auto bits = std::bit_cast<std::uint32_t>(v);
    Entry& e = entries_[(bits * 2654435761u) >> 24];
    if (e.length != 0 && e.bits == bits) {
        std::memcpy(out, e.text.data(), kKept);  // out has room for kFloatTextSize
        return out + e.length;
    }
    char* end = writeFloat(out, v);
    const auto length = static_cast<std::size_t>(end - out);
    if (length <= kKept) {
        e.bits = bits;
        e.length = static_cast<std::uint8_t>(length);
        std::memcpy(e.text.data(), out, length);
    }
    return end;
}

char* writeCells(char* out, std::span<const double> values, std::span<const vlm::Column> columns,
                 FloatMemo* floats) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
        *out++ = ',';
        const double v = values[k];
        if (std::isnan(v)) continue;
        if (columns[k].kind == vlm::ColumnKind::Price) {
            const auto f = static_cast<float>(v);
            out = floats != nullptr ? floats->write(out, f) : writeFloat(out, f);
        } else {
            out = std::to_chars(out, out + kFloatTextSize, static_cast<long long>(v)).ptr;
        }
    }
    return out;
}

void putCells(TextSink& out, std::span<const double> values, std::span<const vlm::Column> columns,
              FloatMemo* floats) {
    out.took(writeCells(out.space(columns.size() * kCellTextSize), values, columns, floats));
}

namespace {

// Copies in whole blocks of kBlock, past `n` up to the next block: both
// sides have that room, and a fixed-size copy needs no call out.
constexpr std::size_t kBlock = 16;

void copyBlocks(char* to, const char* from, std::size_t n) {
    for (std::size_t k = 0; k < n; k += kBlock) std::memcpy(to + k, from + k, kBlock);
}

bool sameBits(const double* a, const double* b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k])) return false;
    }
    return true;
}

}  // namespace

CachedCells::CachedCells(std::span<const vlm::Column> columns, std::span<const std::size_t> groups,
                         FloatMemo* floats)
    : columns_(columns), floats_(floats), values_(columns.size()),
      text_(columns.size() * kCellTextSize + kBlock) {
    std::size_t begin = 0;
    for (const std::size_t n : groups) {
        if (n == 0) continue;
        groups_.push_back({begin, begin + n, 0, false});
        begin += n;
    }
    if (begin != columns.size()) throw std::invalid_argument("the groups must cover every column once");
}

void CachedCells::put(TextSink& out, std::span<const double> values) {
    char* at = out.space(text_.size());
    for (Group& g : groups_) {
        const std::size_t n = g.end - g.begin;
        const double* now = values.data() + g.begin;
        double* seen = values_.data() + g.begin;
        char* text = text_.data() + g.begin * kCellTextSize;
        // Bitwise: NaN stays NaN, and -0 is not 0 (a price writes "-0").
        if (!g.written || !sameBits(seen, now, n)) {
            for (std::size_t k = 0; k < n; ++k) seen[k] = now[k];
            char* end = writeCells(text, values.subspan(g.begin, n), columns_.subspan(g.begin, n), floats_);
            g.length = static_cast<std::size_t>(end - text);
            g.written = true;
        }
        copyBlocks(at, text, g.length);
        at += g.length;
    }
    out.took(at);
}

}  // namespace vlmstruct
