#pragma once
// A bar's events as alerts: each event's JSON object (faces/event_json.h)
// with its stable id, and with --levels the as-of row of every level at that
// bar, its columns named as `replay --levels` names them.
//
// A finished bar's k-th event is "<bar>-<k>@<date>", counted over all its
// events (structures', then points'), whether or not --on lets it through,
// so that an id names the same event whatever the filter. An event of the
// bar still forming is "<bar>-f<hash>@<date>", the hash of what it says
// (subject, event and columns): the same forming event has the same id at
// every rewrite of the bar, in every run. The bar's date (a 'T' for the
// space before a time) keeps a bar number that a file read again from its
// first bar gives to another bar from naming its events again.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faces/event_json.h"
#include "live/live_stream.h"
#include "watch/event_filter.h"
#include "watch/outbox.h"

namespace vlmstruct::watch {

class AlertMaker {
public:
    // `levelNames`: the prefix of each level row (base first), none without --levels.
    AlertMaker(EventFilter filter, std::vector<std::string> levelNames);

    // The alerts --on lets through, in the events' order.
    [[nodiscard]] std::vector<Alert> make(const vlm::live::BarEvents& events, std::size_t bar,
                                          std::string_view date, bool final,
                                          std::span<const vlm::levels::LevelAsOf> levels) const;

private:
    void add(std::vector<Alert>& out, const vlm::EventFields& fields, std::size_t bar, std::size_t k,
             std::string_view date, bool final, std::span<const vlm::levels::LevelAsOf> levels) const;

    EventFilter filter_;
    std::vector<std::string> levelNames_;
};

}  // namespace vlmstruct::watch
