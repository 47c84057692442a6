#include "chart.h"

#include <cmath>
#include <set>
#include <sstream>

#include "chart_assets.h"
#include "output_files.h"
#include "replay_files.h"

namespace vlmstruct {

namespace {

std::string marks(const std::vector<Mark>& list) {
    std::ostringstream out;
    out << "[";
    for (std::size_t k = 0; k < list.size(); ++k) {
        out << (k ? "," : "") << "{\"bar\":" << list[k].bar << ",\"direction\":" << list[k].direction
            << ",\"price\":" << jsonNumber(list[k].price) << "}";
    }
    out << "]";
    return out.str();
}

std::string pivot(const vlm::Pivot& p, bool open) {
    std::ostringstream out;
    out << "{\"start\":" << p.start << ",\"end\":" << p.end << ",\"upper\":" << jsonNumber(p.upper)
        << ",\"lower\":" << jsonNumber(p.lower) << ",\"trend\":" << jsonNumber(p.trend)
        << ",\"open\":" << (open ? "true" : "false") << "}";
    return out.str();
}

std::string force(const vlm::TradingPoint& p, double v) { return p.has(1) ? jsonNumber(v) : "null"; }

// A point as the chart draws and reads it out.
std::string pointFields(const vlm::TradingPoint& p) {
    std::ostringstream out;
    out << p.bar << "," << static_cast<int>(p.side) << "," << jsonString(vlm::PointLabel(p)) << ","
        << jsonNumber(p.price) << "," << force(p, p.leavingForce) << "," << force(p, p.enteringForce) << ","
        << force(p, p.forceRatio);
    return out.str();
}

// The points at the last bar as [bar, side, label, price, leaving, entering,
// ratio, final], final where the replay saw the point become final.
std::string lastPoints(const Analysis& a, const vlm::PointReplayLog& log) {
    std::set<std::int32_t> final;
    for (const vlm::PointReplayEvent& e : log.pointEvents) {
        if (e.kind == vlm::EventKind::Confirmed) final.insert(e.point.point.bar);
    }
    std::ostringstream out;
    out << "[";
    for (std::size_t k = 0; k < a.points.size(); ++k) {
        out << (k ? "," : "") << "[" << pointFields(a.points[k]) << ","
            << (final.count(a.points[k].bar) ? "true" : "false") << "]";
    }
    out << "]";
    return out.str();
}

// The changes the chart replays: strokes, segments and pivots, each as
// [bar, subject, kind, at, from, direction, price, start, end, upper, lower]
// with subject and kind as indexes into the name lists written beside them;
// points as [bar, kind, point bar, side, label, price, leaving, entering, ratio].
std::string replayEvents(const vlm::PointReplayLog& log) {
    std::ostringstream out;
    out << "\"eventSubjects\":[";
    for (int s = 0; s <= static_cast<int>(vlm::EventSubject::PivotUnderWay); ++s) {
        out << (s ? "," : "") << jsonString(vlm::subjectName(static_cast<vlm::EventSubject>(s)));
    }
    out << "],\"eventKinds\":[";
    for (int k = 0; k <= static_cast<int>(vlm::EventKind::Extended); ++k) {
        out << (k ? "," : "") << jsonString(vlm::kindName(static_cast<vlm::EventKind>(k)));
    }
    out << "],\"events\":[";
    bool first = true;
    for (const vlm::ReplayEvent& e : log.events) {
        if (e.subject == vlm::EventSubject::TurningPoint || e.subject == vlm::EventSubject::SegmentNoPullback) {
            continue;  // not drawn
        }
        out << (first ? "" : ",") << "[" << e.bar << "," << static_cast<int>(e.subject) << ","
            << static_cast<int>(e.kind) << "," << e.at << "," << e.from << "," << jsonNumber(e.direction)
            << "," << jsonNumber(e.price) << "," << e.pivot.start << "," << e.pivot.end << ","
            << jsonNumber(e.pivot.upper) << "," << jsonNumber(e.pivot.lower) << "]";
        first = false;
    }
    out << "],\"pointEvents\":[";
    for (std::size_t k = 0; k < log.pointEvents.size(); ++k) {
        const vlm::PointReplayEvent& e = log.pointEvents[k];
        out << (k ? "," : "") << "[" << e.bar << "," << static_cast<int>(e.kind) << "," << pointFields(e.point.point)
            << "]";
    }
    out << "]";
    return out.str();
}

}  // namespace

std::string chartData(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points) {
    const vlm::PointReplayLog log = replayBars(bars, points);
    std::ostringstream out;
    out << "{\"title\":" << jsonString(title) << ",\"hasCandles\":" << (bars.hasCandles() ? "true" : "false")
        << ",\"hasVolume\":" << (bars.volume.empty() ? "false" : "true") << ",\"bars\":[";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        out << (i ? "," : "") << "{\"i\":" << i;
        if (!bars.dates.empty()) out << ",\"date\":" << jsonString(bars.dates[i]);
        if (bars.hasCandles()) out << ",\"o\":" << jsonNumber(bars.open[i]) << ",\"c\":" << jsonNumber(bars.close[i]);
        out << ",\"h\":" << jsonNumber(bars.high[i]) << ",\"l\":" << jsonNumber(bars.low[i]);
        if (!bars.volume.empty()) out << ",\"v\":" << jsonNumber(bars.volume[i]);
        out << "}";
    }
    out << "],\"functionNames\":[";
    for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
        out << (f ? "," : "") << jsonString(std::string(vlm::kSeriesFunctions[f].name));
    }
    out << "],\"outputs\":{";
    for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
        out << (f ? "," : "") << jsonString(std::string(vlm::kSeriesFunctions[f].name)) << ":[";
        for (std::size_t i = 0; i < a.outputs[f].size(); ++i) {
            out << (i ? "," : "") << jsonNumber(a.outputs[f][i]);
        }
        out << "]";
    }
    out << "},\"strokes\":" << marks(a.strokes) << ",\"segments\":" << marks(a.segments)
        << ",\"pivots\":[";
    for (std::size_t p = 0; p < a.pivots.size(); ++p) out << (p ? "," : "") << pivot(a.pivots[p], false);
    if (withOpenPivot && a.openPivot) out << (a.pivots.empty() ? "" : ",") << pivot(*a.openPivot, true);
    out << "],\"points\":" << lastPoints(a, log) << "," << replayEvents(log) << "}";
    return out.str();
}

std::string chartHtml(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points) {
    std::string html(kChartTemplate);
    std::string titleText;
    for (char c : title) titleText += (c == '<' || c == '&') ? '_' : c;
    // Placeholders are found in the template first and filled from the last
    // one back, so nothing inserted can be taken for a placeholder.
    const std::pair<const char*, std::string> fills[] = {
        {"__DATA__", chartData(title, bars, a, withOpenPivot, points)},
        {"__LIBRARY__", std::string(kChartLibrary)},
        {"__LIBRARY_NOTICE__", std::string(kChartLibraryNotice)},
        {"__TITLE__", titleText},
    };
    for (const auto& [placeholder, text] : fills) {
        const std::size_t at = html.find(placeholder);
        if (at != std::string::npos) html.replace(at, std::string(placeholder).size(), text);
    }
    return html;
}

}  // namespace vlmstruct
