#pragma once
// Merged K-line records: consecutive bars merged wherever one contains the other.

#include <cstdint>
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
};

// Feeds bars oldest first and keeps the merged list. The raw bars are not
// kept: nothing reads them, and keeping them would cost a copy of every bar.
class KxianChuLi {
public:
    void AddKxian(float high, float low);
    void AddKxian(KxianRaw bar) { AddKxian(bar.high, bar.low); }
    void reserve(std::size_t bars) { kxianList.reserve(bars); }

    std::vector<Kxian> kxianList;
};

}  // namespace vlm
