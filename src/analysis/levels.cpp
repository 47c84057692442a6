#include "analysis/levels.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "barfile/float_text.h"
#include "analysis/structure_files.h"
#include "barfile/text_sink.h"
#include "barfile/usage_error.h"
#include "points/point_replay.h"
#include "faces/replay_text.h"

namespace vlmstruct {

namespace {

using vlm::levels::Period;
using vlm::levels::Seconds;

int number(const std::string& s, std::size_t at, std::size_t length) {
    int v = 0;
    const char* first = s.data() + at;
    const auto [end, ec] = std::from_chars(first, first + length, v);
    if (ec != std::errc{} || end != first + length) {
        throw std::invalid_argument("not a bar date: " + s);
    }
    return v;
}

std::string dateText(Seconds t, bool withTime) {
    const std::string full = secondsText(t);
    if (!withTime) return full.substr(0, 10);
    return full.substr(0, vlm::levels::TimeOfDay(t) % 60 == 0 ? 16 : 19);
}

void twoDigits(char* at, int v) {
    at[0] = static_cast<char>('0' + v / 10);
    at[1] = static_cast<char>('0' + v % 10);
}

// The structures of one analysed level, as the links read them; the lists
// are those the JSON writes, so the links' indexes are the JSON's.
struct LinkInput {
    std::vector<vlm::levels::LevelEnd> strokes, segments;
    std::vector<vlm::levels::LevelPivot> pivots;
    std::vector<vlm::levels::LevelPoint> points;
    const vlm::levels::LevelBars* bars = nullptr;

    LinkInput(const Level& level, bool withOpenPivot) : bars(&level.resampled) {
        const Analysis& a = level.analysis;
        for (const Mark& m : a.strokes) strokes.push_back({m.bar, m.direction});
        for (const Mark& m : a.segments) segments.push_back({m.bar, m.direction});
        for (const vlm::Pivot& p : a.pivots) pivots.push_back({p.start, p.end});
        if (withOpenPivot && a.openPivot) pivots.push_back({a.openPivot->start, a.openPivot->end});
        for (const vlm::TradingPoint& p : a.points) points.push_back({p.bar, static_cast<int>(p.side)});
    }
    [[nodiscard]] vlm::levels::LevelStructures view() const {
        return {strokes, segments, pivots, points, bars->firstBase, bars->lastBase};
    }
};

// The base bars as a level of their own: each holds itself.
vlm::levels::LevelBars identity(const BarSeries& base, std::span<const Seconds> time) {
    vlm::levels::LevelBars bars;
    bars.time.assign(time.begin(), time.end());
    for (std::size_t i = 0; i < base.size(); ++i) {
        bars.firstBase.push_back(static_cast<std::int32_t>(i));
        bars.lastBase.push_back(static_cast<std::int32_t>(i));
    }
    bars.high = base.high;
    bars.low = base.low;
    bars.open = base.open;
    bars.close = base.close;
    bars.volume = base.volume;
    return bars;
}


std::string range(std::int32_t first, std::int32_t second) {
    return "[" + std::to_string(first) + ", " + std::to_string(second) + "]";
}

std::string linksJson(const std::vector<vlm::levels::StructureLink>& links) {
    std::string out = "[";
    for (std::size_t k = 0; k < links.size(); ++k) {
        const auto& l = links[k];
        out += (k ? ",\n        " : "\n        ");
        out += "{\"base\": " + range(l.base.first, l.base.last) + ", \"inside\": {\"strokes\": " +
               range(l.inside.strokes.first, l.inside.strokes.count) +
               ", \"segments\": " + range(l.inside.segments.first, l.inside.segments.count) +
               ", \"pivots\": " + range(l.inside.pivots.first, l.inside.pivots.count) +
               ", \"points\": " + range(l.inside.points.first, l.inside.points.count) + "}}";
    }
    return out + (links.empty() ? "]" : "\n      ]");
}

}  // namespace

std::string levelName(const Levels& all, std::size_t k) {
    return k == 0 ? kBaseLevelName : vlm::levels::PeriodName(all.levels[k].period);
}

std::vector<Period> parseLevels(const std::string& list) {
    std::vector<Period> periods;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string name = list.substr(at, comma - at);
        const auto period = vlm::levels::ParsePeriod(name);
        if (!period) throw UsageError("--levels: " + vlm::levels::PeriodProblem(name));
        periods.push_back(*period);
        at = comma + 1;
    }
    const auto order = [](const Period& p) {
        switch (p.unit) {
            case Period::Unit::Minute: return static_cast<std::int64_t>(p.minutes);
            case Period::Unit::Day: return std::int64_t{1} << 20;
            case Period::Unit::Week: return std::int64_t{1} << 21;
            case Period::Unit::Month: return std::int64_t{1} << 22;
        }
        return std::int64_t{0};
    };
    std::sort(periods.begin(), periods.end(),
              [&](const Period& a, const Period& b) { return order(a) < order(b); });
    for (std::size_t k = 1; k < periods.size(); ++k) {
        if (periods[k] == periods[k - 1]) {
            throw UsageError("--levels: " + vlm::levels::PeriodName(periods[k]) + " is given twice");
        }
    }
    return periods;
}

std::string secondsText(Seconds t) {
    int y = 0;
    unsigned m = 0, d = 0;
    vlm::levels::CivilFromDays(vlm::levels::DayOf(t), y, m, d);
    if (y < 0 || y > 9999) return {};
    const Seconds tod = vlm::levels::TimeOfDay(t);
    char text[20] = "0000-00-00 00:00:00";
    twoDigits(text, y / 100);
    twoDigits(text + 2, y % 100);
    twoDigits(text + 5, static_cast<int>(m));
    twoDigits(text + 8, static_cast<int>(d));
    twoDigits(text + 11, static_cast<int>(tod / 3600));
    twoDigits(text + 14, static_cast<int>(tod % 3600 / 60));
    twoDigits(text + 17, static_cast<int>(tod % 60));
    return std::string(text, 19);
}

Seconds barTime(const std::string& date) {
    if (date.size() != 10 && date.size() != 16 && date.size() != 19) {
        throw std::invalid_argument("not a bar date: " + date);
    }
    const int y = number(date, 0, 4), m = number(date, 5, 2), d = number(date, 8, 2);
    Seconds t = vlm::levels::DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) *
                vlm::levels::kDay;
    if (date.size() >= 16) t += number(date, 11, 2) * 3600 + number(date, 14, 2) * 60;
    if (date.size() == 19) t += number(date, 17, 2);
    return t;
}

std::vector<Seconds> barSeconds(const BarSeries& bars) {
    std::vector<Seconds> seconds;
    seconds.reserve(bars.hasDates() ? bars.size() : 0);
    if (!bars.dates.empty()) {
        for (const std::string& d : bars.dates) seconds.push_back(barTime(d));
    } else {
        // Packed dates straight to seconds, as barTime reads their text.
        for (const DateStamp& stamp : bars.stamps) {
            const DateTime d = stamp.dateTime();
            seconds.push_back(vlm::levels::DaysFromCivil(d.year, static_cast<unsigned>(d.month),
                                                         static_cast<unsigned>(d.day)) * vlm::levels::kDay +
                              d.hour * 3600 + d.minute * 60 + d.second);
        }
    }
    return seconds;
}

BarSeries levelSeries(const vlm::levels::LevelBars& level, bool intraday) {
    BarSeries bars;
    for (Seconds t : level.time) bars.dates.push_back(dateText(t, intraday));
    bars.open = level.open;
    bars.high = level.high;
    bars.low = level.low;
    bars.close = level.close;
    bars.volume = level.volume;
    return bars;
}

Levels analyseLevels(const BarSeries& base, const std::vector<Period>& periods,
                     const vlm::levels::ResampleOptions& resample,
                     const vlm::TradingPointOptions& points, bool withOpenPivot) {
    if (base.dates.empty()) {
        throw std::invalid_argument("levels need the bars' dates; this file has no date column");
    }
    return analyseLevels(base, barSeconds(base), periods, resample, points, withOpenPivot);
}

Levels analyseLevels(const BarSeries& base, std::span<const Seconds> time, const std::vector<Period>& periods,
                     const vlm::levels::ResampleOptions& resample,
                     const vlm::TradingPointOptions& points, bool withOpenPivot) {
    if (time.size() != base.size()) throw std::invalid_argument("levels need one time per bar");
    Levels all;
    all.levels.push_back(Level{Period{Period::Unit::Minute, 0}, identity(base, time), base, analyse(base, points)});
    for (const Period& period : periods) {
        Level level;
        level.period = period;
        level.resampled = vlm::levels::Resample(
            {time, base.open, base.high, base.low, base.close, base.volume}, period, resample);
        level.bars = levelSeries(level.resampled, period.unit == Period::Unit::Minute);
        level.analysis = analyse(level.bars, points);
        all.levels.push_back(std::move(level));
    }
    for (std::size_t k = 1; k < all.levels.size(); ++k) {
        const LinkInput higher(all.levels[k], withOpenPivot);
        const LinkInput lower(all.levels[k - 1], withOpenPivot);
        all.links.push_back(vlm::levels::LinkLevels(higher.view(), lower.view(), all.levels[k].bars.high,
                                                    all.levels[k].bars.low, base.high, base.low));
    }
    return all;
}

std::string levelBarsCsv(const BarSeries& bars) {
    std::string out = "date";
    if (!bars.open.empty()) out += ",open";
    out += ",high,low";
    if (!bars.close.empty()) out += ",close";
    if (!bars.volume.empty()) out += ",volume";
    out += "\n";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        out += bars.dates[i];
        if (!bars.open.empty()) out += "," + formatFloat(bars.open[i]);
        out += "," + formatFloat(bars.high[i]) + "," + formatFloat(bars.low[i]);
        if (!bars.close.empty()) out += "," + formatFloat(bars.close[i]);
        if (!bars.volume.empty()) out += "," + formatDouble(bars.volume[i]);
        out += "\n";
    }
    return out;
}

std::string levelsCsv(const BarSeries& base, const Levels& all) {
    std::string out = "date";
    for (std::size_t k = 0; k < all.levels.size(); ++k) {
        const std::string prefix = levelName(all, k) + "_";
        out += "," + prefix + "bar";
        for (const auto& f : vlm::kSeriesFunctions) out += "," + prefix + std::string(f.name);
        out += "," + prefix + "trading_point";
    }
    for (std::size_t k = 1; k < all.levels.size(); ++k) out += "," + levelName(all, k) + "_confirmed_by";
    out += "\n";
    std::vector<std::vector<std::string>> labels;
    for (const Level& level : all.levels) {
        labels.emplace_back(level.bars.size());
        for (const vlm::TradingPoint& p : level.analysis.points) {
            labels.back()[static_cast<std::size_t>(p.bar)] = vlm::PointLabel(p);
        }
    }
    // confirmedBy[k - 1][bar]: the confirmations the links found, by the bar of their point.
    std::vector<std::vector<std::string>> confirmedBy;
    for (std::size_t k = 1; k < all.levels.size(); ++k) {
        const Level& level = all.levels[k];
        const auto& confirmations = all.links[k - 1].confirmations;
        confirmedBy.emplace_back(level.bars.size());
        for (std::size_t p = 0; p < level.analysis.points.size(); ++p) {
            if (confirmations[p].empty()) continue;
            confirmedBy.back()[static_cast<std::size_t>(level.analysis.points[p].bar)] =
                std::to_string(confirmations[p].back());
        }
    }
    std::vector<std::size_t> at(all.levels.size(), 0);
    for (std::size_t i = 0; i < base.size(); ++i) {
        out += base.dates[i];
        for (std::size_t k = 0; k < all.levels.size(); ++k) {
            const Level& level = all.levels[k];
            while (static_cast<std::size_t>(level.resampled.lastBase[at[k]]) < i) ++at[k];
            const std::size_t j = at[k];
            out += "," + std::to_string(j);
            for (const auto& series : level.analysis.outputs) out += "," + formatFloat(series[j]);
            out += "," + labels[k][j];
        }
        for (std::size_t k = 1; k < all.levels.size(); ++k) out += "," + confirmedBy[k - 1][at[k]];
        out += "\n";
    }
    return out;
}

std::string levelsJson(const std::string& source, const Levels& all, bool withOpenPivot) {
    std::ostringstream out;
    out << "{\n  \"source\": " << jsonString(source) << ",\n  \"levels\": [";
    for (std::size_t k = 0; k < all.levels.size(); ++k) {
        const Level& level = all.levels[k];
        std::string structures = structuresJson(source, level.bars, level.analysis, withOpenPivot);
        while (!structures.empty() && structures.back() == '\n') structures.pop_back();
        out << (k ? ",\n    " : "\n    ") << "{\n      \"level\": " << jsonString(levelName(all, k))
            << ",\n      \"bars\": " << level.bars.size() << ",\n      \"last_unfinished\": "
            << (level.resampled.lastUnfinished ? "true" : "false")
            << ",\n      \"lower\": " << (k == 0 ? "null" : jsonString(levelName(all, k - 1)))
            << ",\n      \"structures\": " << structures;
        if (k > 0) {
            const vlm::levels::LevelLinks& links = all.links[k - 1];
            out << ",\n      \"links\": {\n      \"strokes\": " << linksJson(links.strokes)
                << ",\n      \"segments\": " << linksJson(links.segments)
                << ",\n      \"pivots\": " << linksJson(links.pivots)
                << ",\n      \"points\": " << linksJson(links.points) << ",\n      \"stroke_ends\": [";
            for (std::size_t e = 0; e < links.strokeEnds.size(); ++e) {
                const auto& m = links.strokeEnds[e];
                out << (e ? ", " : "") << "{\"base_bar\": " << m.baseBar << ", \"lower\": "
                    << (m.lower ? std::to_string(*m.lower) : std::string("null")) << "}";
            }
            out << "],\n      \"confirmations\": [";
            for (std::size_t p = 0; p < links.confirmations.size(); ++p) {
                out << (p ? ", " : "") << "[";
                for (std::size_t c = 0; c < links.confirmations[p].size(); ++c) {
                    out << (c ? ", " : "") << links.confirmations[p][c];
                }
                out << "]";
            }
            out << "]\n      }";
        }
        out << "\n    }";
    }
    out << "\n  ]\n}\n";
    return out.str();
}

}  // namespace vlmstruct
