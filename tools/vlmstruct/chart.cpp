#include "chart.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <span>

#include "chart_assets.h"
#include "chart_columns.h"
#include "barfile/output_files.h"
#include "points/point_functions.h"
#include "analysis/replay_files.h"
#include "faces/replay_text.h"

namespace vlmstruct {

namespace {

using chart::Coding;
using chart::integerColumn;
using chart::numberColumn;
using Integers = std::vector<std::int64_t>;
using Floats = std::vector<float>;
using Doubles = std::vector<double>;

// A JSON object built one field at a time.
class Fields {
public:
    Fields& add(const std::string& name, const std::string& text) {
        out_ += (out_.size() > 1 ? "," : "") + jsonString(name) + ":" + text;
        return *this;
    }
    [[nodiscard]] std::string text() const { return out_ + "}"; }

private:
    std::string out_ = "{";
};

std::string marks(const std::vector<Mark>& list) {
    Integers bar, direction;
    Floats price;
    for (const Mark& m : list) {
        bar.push_back(m.bar);
        direction.push_back(m.direction);
        price.push_back(m.price);
    }
    return Fields()
        .add("bar", integerColumn(bar))
        .add("direction", integerColumn(direction, Coding::Plain))
        .add("price", numberColumn(price))
        .text();
}

std::string pivotColumns(std::span<const vlm::Pivot> listed, const std::optional<vlm::Pivot>& open) {
    Integers start, end, isOpen;
    Floats upper, lower, trend;
    const auto add = [&](const vlm::Pivot& p, bool underWay) {
        start.push_back(p.start);
        end.push_back(p.end);
        upper.push_back(p.upper);
        lower.push_back(p.lower);
        trend.push_back(p.trend);
        isOpen.push_back(underWay ? 1 : 0);
    };
    for (const vlm::Pivot& p : listed) add(p, false);
    if (open) add(*open, true);
    return Fields()
        .add("start", integerColumn(start))
        .add("end", integerColumn(end))
        .add("upper", numberColumn(upper))
        .add("lower", numberColumn(lower))
        .add("trend", numberColumn(trend, Coding::Plain))
        .add("open", integerColumn(isOpen, Coding::Plain))
        .text();
}

std::string pivots(const Analysis& a, bool withOpenPivot) {
    return pivotColumns(a.pivots, withOpenPivot ? a.openPivot : std::nullopt);
}

// Each output as runs of one value: where each run starts, and its value.
std::string outputRuns(const OutputColumn& values) {
    const auto same = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0 || (x != x && y != y); };
    Integers starts;
    Floats runValues;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i == 0 || !same(values[i], values[i - 1])) {
            starts.push_back(static_cast<std::int64_t>(i));
            runValues.push_back(values[i]);
        }
    }
    return Fields().add("start", integerColumn(starts)).add("value", numberColumn(runValues)).text();
}

// Points as the chart draws and reads them out, the label as an index into
// `labels`; the forces only for the points of class 1 (`classOne`), in order.
struct PointColumns {
    Integers bar, side, label, classOne;
    Floats price;
    Doubles leaving, entering, ratio;

    void add(const vlm::TradingPoint& p, std::vector<std::string>& labels) {
        const std::string text = vlm::PointLabel(p);
        std::size_t k = 0;
        while (k < labels.size() && labels[k] != text) ++k;
        if (k == labels.size()) labels.push_back(text);
        bar.push_back(p.bar);
        side.push_back(static_cast<int>(p.side));
        label.push_back(static_cast<std::int64_t>(k));
        price.push_back(p.price);
        classOne.push_back(p.has(1) ? 1 : 0);
        if (p.has(1)) {
            leaving.push_back(p.leavingForce);
            entering.push_back(p.enteringForce);
            ratio.push_back(p.forceRatio);
        }
    }
    void write(Fields& out, const std::string& barName, Coding barCoding) const {
        out.add(barName, integerColumn(bar, barCoding))
            .add("side", integerColumn(side, Coding::Plain))
            .add("label", integerColumn(label, Coding::Plain))
            .add("price", numberColumn(price))
            .add("classOne", integerColumn(classOne, Coding::Plain))
            .add("leaving", numberColumn(leaving, Coding::Plain))
            .add("entering", numberColumn(entering, Coding::Plain))
            .add("ratio", numberColumn(ratio, Coding::Plain));
    }
};

std::string labelList(const std::vector<std::string>& labels) {
    std::string out = "[";
    for (std::size_t k = 0; k < labels.size(); ++k) out += (k ? "," : "") + jsonString(labels[k]);
    return out + "]";
}

// The points at the last bar, final where the replay saw the point become
// final; and the points' changes replay applies: bar, kind, and the point as
// it was then, `at` its bar written as bar - at.
std::string points(const Analysis& a, const vlm::PointReplayLog& log) {
    std::vector<std::string> labels;
    std::set<std::int32_t> confirmed;
    for (const vlm::PointReplayEvent& e : log.pointEvents) {
        if (e.kind == vlm::EventKind::Confirmed) confirmed.insert(e.point.point.bar);
    }
    PointColumns last;
    Integers final;
    for (const vlm::TradingPoint& p : a.points) {
        last.add(p, labels);
        final.push_back(confirmed.count(p.bar) ? 1 : 0);
    }
    Fields lastFields;
    last.write(lastFields, "bar", Coding::Delta);
    lastFields.add("final", integerColumn(final, Coding::Plain));

    PointColumns changed;
    Integers bar, kind;
    for (const vlm::PointReplayEvent& e : log.pointEvents) {
        bar.push_back(e.bar);
        kind.push_back(static_cast<int>(e.kind));
        changed.add(e.point.point, labels);
        changed.bar.back() = e.bar - e.point.point.bar;
    }
    Fields events;
    events.add("bar", integerColumn(bar)).add("kind", integerColumn(kind, Coding::Plain));
    changed.write(events, "at", Coding::Plain);
    return "\"pointLabels\":" + labelList(labels) + ",\"points\":" + lastFields.text() +
           ",\"pointEvents\":" + events.text();
}

// The changes of strokes and segments replay applies: bar, subject, kind,
// the mark's bar (as bar - at), the bar it left (as at - from, for Moved
// only: every other kind leaves none), direction and price; and those of
// pivots: bar, subject, kind, trend, start, end, upper and lower.
std::string replayEvents(const vlm::PointReplayLog& log) {
    Integers markBar, markSubject, markKind, markAt, movedFrom;
    Floats markDirection, markPrice;
    Integers pivotBar, pivotSubject, pivotKind, pivotStart, pivotEnd;
    Floats pivotTrend, pivotUpper, pivotLower;
    for (const vlm::ReplayEvent& e : log.events) {
        switch (e.subject) {
            case vlm::EventSubject::Stroke:
            case vlm::EventSubject::Segment:
                markBar.push_back(e.bar);
                markSubject.push_back(static_cast<int>(e.subject));
                markKind.push_back(static_cast<int>(e.kind));
                markAt.push_back(e.bar - e.at);
                if (e.kind == vlm::EventKind::Moved) movedFrom.push_back(e.at - e.from);
                markDirection.push_back(e.direction);
                markPrice.push_back(e.price);
                break;
            case vlm::EventSubject::Pivot:
            case vlm::EventSubject::PivotUnderWay:
                pivotBar.push_back(e.bar);
                pivotSubject.push_back(static_cast<int>(e.subject));
                pivotKind.push_back(static_cast<int>(e.kind));
                pivotTrend.push_back(e.direction);
                pivotStart.push_back(e.pivot.start);
                pivotEnd.push_back(e.pivot.end);
                pivotUpper.push_back(e.pivot.upper);
                pivotLower.push_back(e.pivot.lower);
                break;
            case vlm::EventSubject::TurningPoint:
            case vlm::EventSubject::SegmentNoPullback:
                break;  // not drawn
        }
    }
    std::string names = "\"eventSubjects\":[";
    for (int s = 0; s <= static_cast<int>(vlm::EventSubject::PivotUnderWay); ++s) {
        names += (s ? "," : "") + jsonString(vlm::subjectName(static_cast<vlm::EventSubject>(s)));
    }
    names += "],\"eventKinds\":[";
    for (int k = 0; k <= static_cast<int>(vlm::EventKind::Extended); ++k) {
        names += (k ? "," : "") + jsonString(vlm::kindName(static_cast<vlm::EventKind>(k)));
    }
    names += "]";
    const std::string markEvents = Fields()
                                       .add("bar", integerColumn(markBar))
                                       .add("subject", integerColumn(markSubject, Coding::Plain))
                                       .add("kind", integerColumn(markKind, Coding::Plain))
                                       .add("at", integerColumn(markAt, Coding::Plain))
                                       .add("movedFrom", integerColumn(movedFrom, Coding::Plain))
                                       .add("direction", numberColumn(markDirection, Coding::Plain))
                                       .add("price", numberColumn(markPrice))
                                       .text();
    const std::string pivotEvents = Fields()
                                        .add("bar", integerColumn(pivotBar))
                                        .add("subject", integerColumn(pivotSubject, Coding::Plain))
                                        .add("kind", integerColumn(pivotKind, Coding::Plain))
                                        .add("trend", numberColumn(pivotTrend, Coding::Plain))
                                        .add("start", integerColumn(pivotStart))
                                        .add("end", integerColumn(pivotEnd))
                                        .add("upper", numberColumn(pivotUpper))
                                        .add("lower", numberColumn(pivotLower))
                                        .text();
    return names + ",\"markEvents\":" + markEvents + ",\"pivotEvents\":" + pivotEvents;
}

}  // namespace

std::string chartLevel(const std::string& name, const BarSeries& bars, const Analysis& a, bool withOpenPivot,
                       const vlm::TradingPointOptions& points, const std::string& extra) {
    const vlm::PointReplayLog log = replayBars(bars, points);
    Fields outputs;
    std::string functionNames = "[";
    for (std::size_t f = 0; f < vlm::kSeriesFunctions.size(); ++f) {
        const std::string function(vlm::kSeriesFunctions[f].name);
        functionNames += (f ? "," : "") + jsonString(function);
        outputs.add(function, outputRuns(a.outputs[f]));
    }
    std::string out = "{\"name\":" + jsonString(name) + ",\"count\":" + std::to_string(bars.size()) +
                      ",\"hasCandles\":" + (bars.hasCandles() ? "true" : "false") +
                      ",\"hasVolume\":" + (bars.volume.empty() ? "false" : "true") +
                      ",\"dates\":" + chart::dateColumn(bars.dates);
    if (bars.hasCandles()) out += ",\"open\":" + numberColumn(bars.open) + ",\"close\":" + numberColumn(bars.close);
    out += ",\"high\":" + numberColumn(bars.high) + ",\"low\":" + numberColumn(bars.low);
    if (!bars.volume.empty()) out += ",\"volume\":" + numberColumn(bars.volume);
    out += ",\"functionNames\":" + functionNames + "]" + ",\"outputs\":" + outputs.text() +
           ",\"strokes\":" + marks(a.strokes) + ",\"segments\":" + marks(a.segments) +
           ",\"pivots\":" + pivots(a, withOpenPivot) + "," + vlmstruct::points(a, log) + "," +
           replayEvents(log) + extra + "}";
    return out;
}

std::string companionLayer(const BarSeries& bars, const Analysis& a) {
    // Functions 5 to 9 of testVelmorDll given function 3's output publish
    // the pivots this list holds.
    const std::vector<float> segments = a.outputs[2].floats();
    const vlm::ZhongShuList segmentPivots = vlm::CalcPivotList(segments, bars.high, bars.low);
    // The companion's function 2, on the closes or, without them, the mid-price.
    std::vector<float> close = bars.close;
    if (close.empty()) {
        close.resize(bars.size());
        for (std::size_t i = 0; i < close.size(); ++i) close[i] = vlm::MidPrice(bars.high[i], bars.low[i]);
    }
    std::vector<float> live(bars.size());
    const auto livePoints = std::find_if(vlm::kPointFunctions.begin(), vlm::kPointFunctions.end(),
                                         [](const vlm::PointFunction& f) { return f.number == 2; });
    livePoints->run({bars.high, bars.low, close}, live);
    Integers bar, code;
    for (std::size_t i = 0; i < live.size(); ++i) {
        if (live[i] == 0.0f) continue;
        bar.push_back(static_cast<std::int64_t>(i));
        code.push_back(static_cast<std::int64_t>(live[i]));
    }
    return ",\"host\":" + Fields()
                               .add("segmentPivots", pivotColumns(segmentPivots, std::nullopt))
                               .add("live", Fields()
                                                .add("bar", integerColumn(bar))
                                                .add("code", integerColumn(code, Coding::Plain))
                                                .text())
                               .text();
}

std::string chartPage(const std::string& title, const std::vector<std::string>& levels) {
    std::string data = "{\"title\":" + jsonString(title) + ",\"levels\":[";
    for (std::size_t k = 0; k < levels.size(); ++k) data += (k ? ",\n" : "") + levels[k];
    data += "]}";
    std::string html(kChartTemplate);
    return fillPlaceholders(std::move(html), {
        {"__DATA__", data},
        {"__LIBRARY__", kChartLibrary},
        {"__LIBRARY_NOTICE__", kChartLibraryNotice},
        {"__TITLE__", pageTitle(title)},
    });
}

std::string pageTitle(const std::string& title) {
    std::string text;
    for (char c : title) text += (c == '<' || c == '&') ? '_' : c;
    return text;
}

std::string fillPlaceholders(std::string page, std::initializer_list<std::pair<const char*, std::string_view>> fills) {
    // Each placeholder stands once, and they are filled in the template's
    // order from the last one back, so nothing inserted can be taken for one.
    for (const auto& [placeholder, text] : fills) {
        const std::size_t at = page.find(placeholder);
        if (at != std::string::npos) page.replace(at, std::string(placeholder).size(), text);
    }
    return page;
}

std::string chartHtml(const std::string& title, const BarSeries& bars, const Analysis& a,
                      bool withOpenPivot, const vlm::TradingPointOptions& points, bool companion) {
    return chartPage(title, {chartLevel("", bars, a, withOpenPivot, points, companion ? companionLayer(bars, a) : "")});
}

}  // namespace vlmstruct
