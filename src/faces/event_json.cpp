#include "faces/event_json.h"

#include <charconv>
#include <cmath>

#include "faces/replay_text.h"

namespace vlm {

namespace {

std::vector<double> eventValues() { return std::vector<double>(EventColumns().size() + PointEventColumns().size()); }

}  // namespace

EventFields FieldsOf(const ReplayEvent& event) {
    EventFields f{subjectName(event.subject), kindName(event.kind), eventValues(), describe(event)};
    StructureEventValues(event, f.values);
    return f;
}

EventFields FieldsOf(const PointReplayEvent& event) {
    EventFields f{kPointSubject, kindName(event.kind), eventValues(), describe(event)};
    PointEventValues(event, f.values);
    return f;
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendJsonColumns(std::string& out, std::span<const Column> columns, std::span<const double> values,
                       std::string_view prefix) {
    char number[32];
    for (std::size_t k = 0; k < columns.size(); ++k) {
        out += ",\"";
        out += prefix;
        out += columns[k].name;
        out += "\":";
        const double v = values[k];
        // JSON has no NaN or infinity (a force ratio over no entering force
        // is one): what is not a finite number is null.
        if (!std::isfinite(v)) {
            out += "null";
            continue;
        }
        // As the events file writes its cells: prices as floats, the rest whole.
        char* end = columns[k].kind == ColumnKind::Price
                              ? std::to_chars(number, number + sizeof number, static_cast<float>(v)).ptr
                              : std::to_chars(number, number + sizeof number, static_cast<long long>(v)).ptr;
        out.append(number, static_cast<std::size_t>(end - number));
    }
}

void OpenEventJson(std::string& out, std::string_view id, std::string_view date, const EventFields& event,
                   bool final) {
    out += "{\"id\":";
    AppendJsonString(out, id);
    out += ",\"date\":";
    if (date.empty()) {
        out += "null";
    } else {
        AppendJsonString(out, date);
    }
    out += ",\"subject\":";
    AppendJsonString(out, event.subject);
    out += ",\"event\":";
    AppendJsonString(out, event.kind);
    const std::span<const double> values(event.values);
    const std::size_t n = EventColumns().size();
    AppendJsonColumns(out, EventColumns(), values.first(n));
    AppendJsonColumns(out, PointEventColumns(), values.subspan(n));
    out += ",\"text\":";
    AppendJsonString(out, event.text);
    out += final ? ",\"final\":true" : ",\"final\":false";
}

}  // namespace vlm
