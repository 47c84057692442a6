#pragma once
// An event as one JSON object, as alerts carry it: its id, date, subject and
// kind, every column of the replay's events file (EventColumns, then
// PointEventColumns) under the same names, its line of text, and whether it
// is final. Empty cells, and values that are not finite, are null; bars and codes are integers, prices the
// shortest text that reads back as the same float.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faces/replay_columns.h"
#include "points/point_replay.h"
#include "stream/replay.h"

namespace vlm {

// What an event shows, whichever kind of event it is.
struct EventFields {
    std::string_view subject, kind;
    std::vector<double> values;  // EventColumns(), then PointEventColumns()
    std::string text;
};
EventFields FieldsOf(const ReplayEvent& event);
EventFields FieldsOf(const PointReplayEvent& event);

// `"text"` with JSON's escapes.
void AppendJsonString(std::string& out, std::string_view text);
// `,"<prefix><name>":value` for each column.
void AppendJsonColumns(std::string& out, std::span<const Column> columns, std::span<const double> values,
                       std::string_view prefix = {});

// The event's object without its closing brace, so that a caller may add
// fields: {"id":..,"date":..,"subject":..,"event":..,<columns>,"text":..,"final":..
// `date` empty: null.
void OpenEventJson(std::string& out, std::string_view id, std::string_view date, const EventFields& event,
                   bool final);

}  // namespace vlm
