#pragma once
// Links between the structures of two levels of one base series: which base
// bars a higher-level structure covers, which lower-level structures lie
// inside it, where a higher-level stroke end was made at the lower level,
// and which lower-level points confirm a higher-level point.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vlm::levels {

// A stroke or segment end at a bar of its level: 1 top, -1 bottom.
struct LevelEnd {
    std::int32_t bar;
    int direction;
};

struct LevelPivot {
    std::int32_t start;
    std::int32_t end;
};

// A trading point at a bar of its level: 1 buy, -1 sell.
struct LevelPoint {
    std::int32_t bar;
    int side;
};

// One level's structures, each list in bar order, and the base bars each of
// its bars holds.
struct LevelStructures {
    std::span<const LevelEnd> strokes;
    std::span<const LevelEnd> segments;
    std::span<const LevelPivot> pivots;
    std::span<const LevelPoint> points;
    std::span<const std::int32_t> firstBase;
    std::span<const std::int32_t> lastBase;
};

struct BaseRange {
    std::int32_t first = 0;
    std::int32_t last = -1;
    [[nodiscard]] bool contains(const BaseRange& r) const { return first <= r.first && r.last <= last; }
};

// A run of a lower-level list: entries first .. first + count - 1.
struct IndexRange {
    std::int32_t first = 0;
    std::int32_t count = 0;
};

struct Inside {
    IndexRange strokes, segments, pivots, points;
};

struct StructureLink {
    BaseRange base;
    Inside inside;  // the lower level's structures whose base bars lie within `base`
};

struct EndMatch {
    std::int32_t baseBar;               // where the higher-level high (top) or low (bottom) was made
    std::optional<std::int32_t> lower;  // the lower-level stroke end there, if there is one
};

struct LevelLinks {
    // Stroke k runs from end k - 1 (the series' first bar for k = 0) to end
    // k; segment k likewise; a pivot from its start to its end; a point over
    // the bar it is at.
    std::vector<StructureLink> strokes, segments, pivots, points;
    std::vector<EndMatch> strokeEnds;
    // For each point: the lower-level points of its side inside the
    // higher-level stroke that ends at it (empty where none ends there).
    std::vector<std::vector<std::int32_t>> confirmations;
};

// The bar of a level that holds a base bar, from the first base bar of each
// of its bars (ascending): -1 before the first.
std::int32_t BarHolding(std::span<const std::int32_t> firstBase, std::int32_t baseBar);

// `baseHigh` and `baseLow` are the base series; `higherHigh` and `higherLow`
// the higher level's bars, made from it. Throws std::invalid_argument,
// naming the argument, for series of other lengths than the levels' bars
// (and the base's) or bars holding base bars out of order or past the base.
LevelLinks LinkLevels(const LevelStructures& higher, const LevelStructures& lower,
                      std::span<const float> higherHigh, std::span<const float> higherLow,
                      std::span<const float> baseHigh, std::span<const float> baseLow);

}  // namespace vlm::levels
