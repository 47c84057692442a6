#pragma once
// Merged K-line records: consecutive bars merged wherever one contains the other.

#include <cstdint>
#include <span>
#include <vector>

namespace vlm {

// One bar before any merging.
struct KxianRaw {
    float high = 0.0f;
    float low = 0.0f;
};

// One merged record. Only the last record of a list ever changes.
struct Kxian {
    float high = 0.0f;
    float low = 0.0f;
    std::int32_t direction = 1;  // 1 up, -1 down; fixed when the record opens
    std::int32_t startIndex = 0;
    std::int32_t endIndex = 0;
    std::int32_t extremeIndex = 0;  // bar of the high (up) or of the low (down)

    friend bool operator==(const Kxian&, const Kxian&) = default;
};

// Feeds bars oldest first and keeps the merged list. The raw bars are not
// kept: nothing reads them, and keeping them would cost a copy of every bar.
class KxianChuLi {
public:
    void AddKxian(float high, float low);
    void AddKxian(KxianRaw bar) { AddKxian(bar.high, bar.low); }
    // Adds every bar of a series in order: the same as AddKxian bar by bar.
    void AddKxians(std::span<const float> high, std::span<const float> low);

    std::vector<Kxian> kxianList;

    friend bool operator==(const KxianChuLi&, const KxianChuLi&) = default;
};

// One bar against the last record: the record that results, and whether it
// is a new record (appended) or the last one changed in place.
struct MergeResult {
    Kxian record;
    bool opensRecord;
};
//
// The four tests (up, down, record contains bar, bar contains record) run in
// that order and every comparison is false against a NaN, so a bar with a
// NaN price always lands in the last case.
inline MergeResult mergeBar(const Kxian& last, float high, float low) {
    const std::int32_t bar = last.endIndex + 1;
    if (high > last.high && low > last.low) return {Kxian{high, low, 1, bar, bar, bar}, true};
    if (high < last.high && low < last.low) return {Kxian{high, low, -1, bar, bar, bar}, true};
    Kxian merged = last;
    merged.endIndex = bar;
    if (high <= last.high && low >= last.low) {
        // The record contains the bar: the extreme stays where it was.
        (last.direction == 1 ? merged.low : merged.high) = last.direction == 1 ? low : high;
    } else {
        // The bar contains the record (or a price is NaN): the extreme moves to it.
        (last.direction == 1 ? merged.high : merged.low) = last.direction == 1 ? high : low;
        merged.extremeIndex = bar;
    }
    return {merged, false};
}

}  // namespace vlm
