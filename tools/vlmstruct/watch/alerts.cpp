#include "watch/alerts.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

#include "faces/event_json.h"
#include "faces/replay_columns.h"
#include "faces/replay_text.h"
#include "stream/missing_value.h"
#include "watch/checksum.h"

namespace vlmstruct::watch {

namespace {

std::string formingId(const vlm::EventFields& f, std::size_t bar) {
    Checksum sum;
    sum.feed(f.subject);
    sum.feed(":");
    sum.feed(f.kind);
    for (const double v : f.values) {
        // Every NaN alike: an empty cell is an empty cell.
        const std::uint64_t bits = std::isnan(v) ? 0x7ff8000000000000ULL : std::bit_cast<std::uint64_t>(v);
        char bytes[sizeof bits];
        for (std::size_t b = 0; b < sizeof bits; ++b) bytes[b] = static_cast<char>(bits >> (8 * b));
        sum.feed(std::string_view(bytes, sizeof bytes));
    }
    char hex[16];
    std::fill(std::begin(hex), std::end(hex), '0');
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, sum.value(), 16).ptr;
    std::copy(digits, end, hex + (sizeof hex - static_cast<std::size_t>(end - digits)));
    return std::to_string(bar) + "-f" + std::string(hex, sizeof hex);
}

}  // namespace

AlertMaker::AlertMaker(EventFilter filter, std::vector<std::string> levelNames)
    : filter_(std::move(filter)), levelNames_(std::move(levelNames)) {}

std::vector<Alert> AlertMaker::make(const vlm::live::BarEvents& events, std::size_t bar, std::string_view date,
                                    bool final, std::span<const vlm::levels::LevelAsOf> levels) const {
    std::vector<Alert> out;
    std::size_t k = 0;
    for (const vlm::ReplayEvent& e : events.structures) {
        const std::size_t at = k++;
        if (filter_.passes(vlm::subjectName(e.subject), vlm::kindName(e.kind))) {
            add(out, vlm::FieldsOf(e), bar, at, date, final, levels);
        }
    }
    for (const vlm::PointReplayEvent& e : events.points) {
        const std::size_t at = k++;
        if (filter_.passes(vlm::kPointSubject, vlm::kindName(e.kind))) {
            add(out, vlm::FieldsOf(e), bar, at, date, final, levels);
        }
    }
    return out;
}

void AlertMaker::add(std::vector<Alert>& out, const vlm::EventFields& fields, std::size_t bar, std::size_t k,
                     std::string_view date, bool final, std::span<const vlm::levels::LevelAsOf> levels) const {
    Alert alert;
    alert.id = final ? std::to_string(bar) + "-" + std::to_string(k) : formingId(fields, bar);
    alert.id += '@';
    for (const char c : date) alert.id += c == ' ' ? 'T' : c;
    vlm::OpenEventJson(alert.json, alert.id, date, fields, final);
    const auto columns = vlm::AsOfColumns();
    const auto pointColumns = vlm::PointAsOfColumns();
    std::vector<double> values(columns.size()), pointValues(pointColumns.size());
    for (std::size_t level = 0; level < levelNames_.size() && level < levels.size(); ++level) {
        const vlm::levels::LevelAsOf& row = levels[level];
        if (row.present) {
            vlm::AsOfValues(row.structures, values);
            vlm::PointAsOfValues(row.point, pointValues);
        } else {
            std::fill(values.begin(), values.end(), vlm::kNaN);
            std::fill(pointValues.begin(), pointValues.end(), vlm::kNaN);
        }
        const std::string prefix = levelNames_[level] + "_";
        vlm::AppendJsonColumns(alert.json, columns, values, prefix);
        vlm::AppendJsonColumns(alert.json, pointColumns, pointValues, prefix);
    }
    alert.json += '}';
    out.push_back(std::move(alert));
}

}  // namespace vlmstruct::watch
