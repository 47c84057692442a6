#include "watch/event_filter.h"

#include <algorithm>

#include "barfile/usage_error.h"
#include "faces/replay_text.h"
#include "suggestions.h"

namespace vlmstruct::watch {

namespace {

std::vector<std::string> subjects() {
    using vlm::EventSubject;
    std::vector<std::string> names;
    for (const EventSubject s : {EventSubject::TurningPoint, EventSubject::Stroke, EventSubject::Segment,
                                 EventSubject::SegmentNoPullback, EventSubject::Pivot, EventSubject::PivotUnderWay}) {
        names.emplace_back(vlm::subjectName(s));
    }
    names.emplace_back(vlm::kPointSubject);
    return names;
}

std::vector<std::string> events() {
    using vlm::EventKind;
    std::vector<std::string> names;
    for (const EventKind k : {EventKind::Appeared, EventKind::Moved, EventKind::Vanished, EventKind::Confirmed,
                              EventKind::Closed, EventKind::Dropped, EventKind::Withdrawn, EventKind::Opened,
                              EventKind::Extended}) {
        names.emplace_back(vlm::kindName(k));
    }
    return names;
}

void check(const std::string& name, const std::vector<std::string>& valid, const char* what) {
    if (name == "*" || std::find(valid.begin(), valid.end(), name) != valid.end()) return;
    throw UsageError("--on: no " + std::string(what) + " '" + name + "'" + suggestion(name, valid));
}

}  // namespace

EventFilter EventFilter::parse(const std::string& list) {
    EventFilter filter;
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string pair(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t colon = pair.find(':');
        if (colon == std::string::npos || pair.find(':', colon + 1) != std::string::npos) {
            throw UsageError("--on takes subject:event pairs separated by commas, e.g. trading_point:appeared; got '" +
                             pair + "'");
        }
        std::string subject = pair.substr(0, colon), event = pair.substr(colon + 1);
        check(subject, subjects(), "subject");
        check(event, events(), "event");
        filter.pairs_.emplace_back(std::move(subject), std::move(event));
    }
    if (filter.pairs_.empty()) throw UsageError("--on names no subject:event pair");
    return filter;
}

bool EventFilter::passes(std::string_view subject, std::string_view event) const {
    if (pairs_.empty()) return true;
    return std::any_of(pairs_.begin(), pairs_.end(), [&](const auto& p) {
        return (p.first == "*" || p.first == subject) && (p.second == "*" || p.second == event);
    });
}

}  // namespace vlmstruct::watch
