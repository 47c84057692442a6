#pragma once
// --on: which events make alerts, as subject:event pairs, e.g.
// trading_point:appeared,stroke:confirmed; '*' stands for any subject or event.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vlmstruct::watch {

class EventFilter {
public:
    // Every event.
    EventFilter() = default;
    // Throws UsageError naming a pair that is not subject:event, or a subject
    // or event that no event has, with the names there are.
    static EventFilter parse(const std::string& list);

    [[nodiscard]] bool passes(std::string_view subject, std::string_view event) const;

private:
    std::vector<std::pair<std::string, std::string>> pairs_;  // empty: every event
};

}  // namespace vlmstruct::watch
