#pragma once
// Rows put in date order, and the first date given twice.

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vlmstruct {

struct DateOrder {
    std::vector<std::size_t> order;  // positions in ascending date order; empty when already ascending
    // The first date given twice, in date order: the earlier and the later position.
    std::optional<std::pair<std::size_t, std::size_t>> duplicate;
};

// Rows out of order are sorted (stably); equal keys are duplicates.
template <typename Key>
DateOrder orderByDate(std::span<const Key> keys) {
    DateOrder result;
    // Files are mostly in order already: the positions are then their own
    // order, and a duplicate is a key equal to the one before it.
    if (std::is_sorted(keys.begin(), keys.end())) {
        for (std::size_t r = 1; r < keys.size(); ++r) {
            if (keys[r] == keys[r - 1]) {
                result.duplicate = std::pair{r - 1, r};
                break;
            }
        }
        return result;
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t r = 1; r < order.size(); ++r) {
        if (keys[order[r]] == keys[order[r - 1]]) {
            result.duplicate = std::pair{order[r - 1], order[r]};
            break;
        }
    }
    result.order = std::move(order);
    return result;
}

}  // namespace vlmstruct
