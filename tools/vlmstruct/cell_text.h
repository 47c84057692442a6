#pragma once
// The numeric cells of the replay files: a value per column, NaN for an empty
// cell, bars and codes as integers, prices as the float they are.

#include <cstddef>
#include <span>
#include <vector>

#include "output_files.h"
#include "stream/replay.h"

namespace vlmstruct {

// Room one cell's text needs: its comma and the longest number.
inline constexpr std::size_t kCellTextSize = 1 + kFloatTextSize;

// ",text" of each value at `out`, which has room for kCellTextSize
// characters per value; returns the end.
char* writeCells(char* out, std::span<const double> values, std::span<const vlm::Column> columns);
void putCells(TextSink& out, std::span<const double> values, std::span<const vlm::Column> columns);

// Rows written as putCells writes them, one after another, with the text
// of each group of columns kept: a group whose values are, bit for bit,
// those it had in the row before is copied rather than formatted again. Most
// bars of a replay change the bar, the close and a stroke's end, and leave
// the rest as it was.
class CachedCells {
public:
    // `groups` holds the columns of each group, in order, in all as many as
    // `columns` has.
    CachedCells(std::span<const vlm::Column> columns, std::span<const std::size_t> groups);

    void put(TextSink& out, std::span<const double> values);

private:
    struct Group {
        std::size_t begin = 0, end = 0;  // its columns
        std::size_t length = 0;          // of its text, at text_[begin * kCellTextSize]
        bool written = false;
    };
    std::span<const vlm::Column> columns_;
    std::vector<Group> groups_;
    std::vector<double> values_;  // those the texts were made from
    std::vector<char> text_;
};

}  // namespace vlmstruct
