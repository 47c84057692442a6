#pragma once
// The walk that builds the pivot list: every stroke top and bottom, in bar
// order, fed to one tracker; after a close the walk steps back and goes on
// with a fresh tracker.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "signal/turning_point.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_tracker.h"

namespace vlm {

// Only the stroke tops and bottoms (TurningPoint) move the tracker, so the
// walk visits them alone; bars in between would leave it untouched.

// The turning points of a signal: bars holding exactly 1.0 or -1.0.
std::vector<TurningPoint> turningPoints(std::span<const float> bi, std::span<const float> high,
                                        std::span<const float> low);

// One pivot that closed, and whether it was kept (a pivot closed against its
// trend can be dropped by the trim).
struct PivotClose {
    Pivot pivot;
    bool retained;

    friend bool operator==(const PivotClose&, const PivotClose&) = default;
};

// The walk's whole state is a few fields, so copying it saves the walk: it
// can go on when more turning points arrive, or run ahead on points that may
// still change and be thrown away.
class PivotWalk {
public:
    // Walks on from where the last call stopped to the end of `points`, which
    // holds the points of earlier calls unchanged, in bar order, followed by
    // new ones. Retained pivots are appended to `list`; every close, kept or
    // dropped, to `closes` when it is given.
    void advance(std::span<const TurningPoint> points, ZhongShuList& list,
                 std::vector<PivotClose>* closes = nullptr);

    // The pivot still open when the points ran out, as the list would hold it.
    [[nodiscard]] std::optional<Pivot> openPivot() const;

    friend bool operator==(const PivotWalk&, const PivotWalk&) = default;
    // Whether a state read back could be one of a walk over these points:
    // the pivot it holds and the bars in its slots are among them.
    [[nodiscard]] bool fits(std::span<const TurningPoint> points) const;

private:
    PivotTracker ZhongShuOne;
    std::int32_t walkStart_ = 0;  // bar at which the fresh tracker began
    std::size_t next_ = 0;        // the next point to feed
};

}  // namespace vlm
