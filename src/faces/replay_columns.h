#pragma once
// The replay's as-of row and events as flat numeric columns, named once for
// every face that writes them (files, data frames).

#include <span>
#include <string_view>

#include "points/point_replay.h"
#include "stream/replay.h"

namespace vlm {

// A value is NaN where there is nothing to show.
// Whole: a whole number (a bar index or a run count); Code: -1, 0 or 1 (or a
// classes code); Price: a price, written as the file gives it.
enum class ColumnKind { Whole, Code, Price };
struct Column {
    std::string_view name;
    ColumnKind kind;
};
std::span<const Column> AsOfColumns();
// Writes AsOfColumns().size() values.
void AsOfValues(const AsOfRow& row, std::span<double> out);
// Numeric columns of an event; its subject, kind and text are strings beside them.
std::span<const Column> EventColumns();
// Writes EventColumns().size() values.
void EventValues(const ReplayEvent& event, std::span<double> out);

// Appended to AsOfColumns(): point_side (1 buy, -1 sell), point_classes (as
// PointClassesCode), point_bar, point_price, point_final (1 or 0).
std::span<const Column> PointAsOfColumns();
void PointAsOfValues(const PointAsOf& row, std::span<double> out);

// Appended to EventColumns(): point_side, point_classes, point_follows_bar,
// point_leaving_force, point_entering_force, point_force_ratio. A point
// event fills the shared columns too (at_bar and price of the point,
// direction 1 at a top and -1 at a bottom, pivot_* of its pivot); a
// structure event leaves the point columns empty.
std::span<const Column> PointEventColumns();
// Writes EventColumns().size() + PointEventColumns().size() values.
void PointEventValues(const PointReplayEvent& event, std::span<double> out);
void StructureEventValues(const ReplayEvent& event, std::span<double> out);

}  // namespace vlm
