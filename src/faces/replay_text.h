#pragma once
// The replay's events and the trading points in words, as the files and the
// data frames show them: subject and kind names, labels, one line per event.
// The engine computes values only; these are its faces' texts.

#include <cstddef>
#include <string>

#include "faces/event_text.h"
#include "points/point_replay.h"
#include "stream/replay.h"

namespace vlm {

// One line of plain text, e.g. "stroke top at bar 812 confirmed".
std::string describe(const ReplayEvent& event);
// The same text at `out`, which has room for kEventTextSize characters,
// its numbers written by `floats` where one is given; returns its end.
char* describe(char* out, const ReplayEvent& event, FloatText* floats = nullptr);
// Short names used in files: "turning_point", "stroke", ..., "pivot_under_way".
const char* subjectName(EventSubject subject);
const char* kindName(EventKind kind);

// "B1", "S3", "B2+B3": the side's letter and each class, in class order.
std::string PointLabel(const TradingPoint& point);
// The same text at `out`, which has room for kPointLabelSize characters;
// returns its end.
inline constexpr std::size_t kPointLabelSize = 8;  // "B1+B2+B3"
char* PointLabel(char* out, const TradingPoint& point);

// "trading_point": the subject written beside the structures' subjects.
inline constexpr const char* kPointSubject = "trading_point";
// "trading point B1 at bar 60 appeared (12.75)".
std::string describe(const PointReplayEvent& event);
// The same text at `out`, which has room for kEventTextSize characters,
// its numbers written by `floats` where one is given; returns its end.
char* describe(char* out, const PointReplayEvent& event, FloatText* floats = nullptr);

}  // namespace vlm
