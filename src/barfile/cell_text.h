#pragma once
// The numeric cells of the replay files: a value per column, NaN for an empty
// cell, bars and codes as integers, prices as the float they are.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "barfile/text_sink.h"
#include "stream/replay.h"
#include "faces/replay_text.h"
#include "faces/replay_columns.h"

namespace vlmstruct {

// Room one cell's text needs: its comma and the longest number.
inline constexpr std::size_t kCellTextSize = 1 + kFloatTextSize;

// The text of recent floats, by their bits: a replay writes the same few
// prices over and over (a mark's price in its events, in their text and in
// the as-of row). The text is writeFloat's, which is std::to_chars's; NaN,
// which to_chars spells with its sign, is left to to_chars.
class FloatMemo final : public vlm::FloatText {
public:
    char* write(char* out, float v) override;

private:
    static constexpr std::size_t kKept = 16;  // longer texts are not kept
    struct Entry {
        std::uint32_t bits = 0;
        std::uint8_t length = 0;  // 0: nothing kept
        std::array<char, kKept> text{};
    };
    std::array<Entry, 256> entries_{};
};

// ",text" of each value at `out`, which has room for kCellTextSize
// characters per value; returns the end. Prices go through `floats` where
// one is given: the same text.
char* writeCells(char* out, std::span<const double> values, std::span<const vlm::Column> columns,
                 FloatMemo* floats = nullptr);
void putCells(TextSink& out, std::span<const double> values, std::span<const vlm::Column> columns,
              FloatMemo* floats = nullptr);

// Rows written as putCells writes them, one after another, with the text
// of each group of columns kept: a group whose values are, bit for bit,
// those it had in the row before is copied rather than formatted again. Most
// bars of a replay change the bar, the close and a stroke's end, and leave
// the rest as it was.
class CachedCells {
public:
    // `groups` holds the columns of each group, in order, in all as many as
    // `columns` has.
    CachedCells(std::span<const vlm::Column> columns, std::span<const std::size_t> groups,
                FloatMemo* floats = nullptr);

    void put(TextSink& out, std::span<const double> values);

private:
    struct Group {
        std::size_t begin = 0, end = 0;  // its columns
        std::size_t length = 0;          // of its text, at text_[begin * kCellTextSize]
        bool written = false;
    };
    std::span<const vlm::Column> columns_;
    FloatMemo* floats_;
    std::vector<Group> groups_;
    std::vector<double> values_;  // those the texts were made from
    std::vector<char> text_;
};

}  // namespace vlmstruct
