#include "analysis/structure_files.h"

#include <cmath>

#include "pivot/pivot_outputs.h"
#include "points/point_replay.h"
#include "faces/replay_text.h"

namespace vlmstruct {

namespace {

// The bar's date as a JSON string ("" without dates).
void putDate(TextSink& out, const BarSeries& bars, int bar) {
    if (!bars.hasDates()) {
        out.put("\"\"");
        return;
    }
    if (!bars.dates.empty()) {
        out.putJsonString(bars.dates[static_cast<std::size_t>(bar)]);
        return;
    }
    // Packed dates are digits, '-', ' ' and ':': nothing to escape.
    out.put('"');
    out.putDate(bars, static_cast<std::size_t>(bar));
    out.put('"');
}

// `"<what>_bar": N, "<what>_date": "..."`, after `lead` (the separator before it).
void putBarAndDate(TextSink& out, std::string_view lead, std::string_view what, int bar, const BarSeries& bars) {
    out.put(lead);
    out.put('"');
    out.put(what);
    out.put("_bar\": ");
    out.putInt(bar);
    out.put(", \"");
    out.put(what);
    out.put("_date\": ");
    putDate(out, bars, bar);
}

void putMarks(TextSink& out, const std::vector<Mark>& marks, const BarSeries& bars, bool lastMoves) {
    out.put('[');
    for (std::size_t k = 0; k < marks.size(); ++k) {
        const Mark& m = marks[k];
        const int startBar = k == 0 ? 0 : marks[k - 1].bar;
        const float startPrice = k == 0 ? (m.direction == 1 ? bars.low[0] : bars.high[0])
                                        : marks[k - 1].price;
        out.put(k ? ",\n    " : "\n    ");
        out.put("{\"direction\": ");
        out.putInt(m.direction);
        putBarAndDate(out, ", ", "start", startBar, bars);
        out.put(", \"start_price\": ");
        out.putJsonNumber(startPrice);
        putBarAndDate(out, ", ", "end", m.bar, bars);
        out.put(", \"end_price\": ");
        out.putJsonNumber(m.price);
        out.put(", \"in_progress\": ");
        out.put(lastMoves && k + 1 == marks.size() ? "true}" : "false}");
        out.written();
    }
    out.put(marks.empty() ? "]" : "\n  ]");
}

// A pivot's object without its closing brace, for the pivot lists and a point's pivot.
void putPivotFields(TextSink& out, const vlm::Pivot& p, float runCount, const BarSeries& bars) {
    putBarAndDate(out, "{", "start", p.start, bars);
    putBarAndDate(out, ", ", "end", p.end, bars);
    out.put(", \"upper\": ");
    out.putJsonNumber(p.upper);
    out.put(", \"lower\": ");
    out.putJsonNumber(p.lower);
    out.put(", \"trend\": ");
    out.putInt(static_cast<int>(p.trend));
    out.put(", \"run_count\": ");
    out.putInt(static_cast<int>(runCount));
}

void putPivot(TextSink& out, const vlm::Pivot& p, float runCount, bool open, const BarSeries& bars) {
    putPivotFields(out, p, runCount, bars);
    out.put(open ? ", \"open\": true}" : ", \"open\": false}");
}

void putPoint(TextSink& out, const vlm::TradingPoint& p, const BarSeries& bars) {
    const vlm::PointPivot& z = vlm::PointPivotOf(p);
    out.put(p.side == vlm::PointSide::Buy ? "{\"side\": \"buy\"" : "{\"side\": \"sell\"");
    out.put(", \"label\": ");
    out.putJsonString(vlm::PointLabel(p));
    out.put(", \"classes\": [");
    bool first = true;
    for (int c = 1; c <= 3; ++c) {
        if (!p.has(c)) continue;
        if (!first) out.put(", ");
        out.putInt(c);
        first = false;
    }
    out.put("], \"bar\": ");
    out.putInt(p.bar);
    out.put(", \"date\": ");
    putDate(out, bars, p.bar);
    out.put(", \"price\": ");
    out.putJsonNumber(p.price);
    out.put(", \"pivot\": ");
    putPivotFields(out, z.pivot, z.runCount, bars);
    out.put('}');
    const bool one = p.has(1);
    const std::pair<const char*, double> forces[] = {
        {", \"leaving_force\": ", p.leavingForce}, {", \"entering_force\": ", p.enteringForce},
        {", \"force_ratio\": ", p.forceRatio}};
    for (const auto& [name, value] : forces) {
        out.put(name);
        if (one) {
            out.putJsonNumber(value);
        } else {
            out.put("null");
        }
    }
    out.put(", \"follows_bar\": ");
    if (p.has(2)) {
        out.putInt(p.follows);
        out.put(", \"follows_date\": ");
        putDate(out, bars, p.follows);
    } else {
        out.put("null, \"follows_date\": null");
    }
    out.put('}');
}

void putPoints(TextSink& out, const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    out.put('[');
    for (std::size_t k = 0; k < points.size(); ++k) {
        out.put(k ? ",\n    " : "\n    ");
        putPoint(out, points[k], bars);
        out.written();
    }
    out.put(points.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string pointJson(const vlm::TradingPoint& p, const BarSeries& bars) {
    std::string out;
    TextSink sink(out);
    putPoint(sink, p, bars);
    sink.flush();
    return out;
}

std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    std::string out;
    TextSink sink(out);
    putPoints(sink, points, bars);
    sink.flush();
    return out;
}

void writeAnalysisCsv(TextSink& out, const BarSeries& bars, const Analysis& a) {
    out.put("date,high,low");
    for (const auto& f : vlm::kSeriesFunctions) {
        out.put(',');
        out.put(f.name);
    }
    out.put(",trading_point\n");
    // The points come in bar order; where two share a bar the later is shown.
    const std::vector<vlm::TradingPoint>& points = a.points;
    const bool inOrder =
        std::is_sorted(points.begin(), points.end(), [](const auto& x, const auto& y) { return x.bar < y.bar; });
    std::vector<std::string> labels;
    if (!inOrder) {
        labels.resize(bars.size());
        for (const vlm::TradingPoint& p : points) labels[static_cast<std::size_t>(p.bar)] = vlm::PointLabel(p);
    }
    const bool dated = bars.hasDates();
    std::size_t next = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        if (dated) {
            out.putDate(bars, i);
        } else {
            out.putInt(static_cast<long long>(i));
        }
        out.put(',');
        out.putFloat(bars.high[i]);
        out.put(',');
        out.putFloat(bars.low[i]);
        for (const auto& series : a.outputs) {
            out.put(',');
            // Most outputs are 0 at most bars.
            if (series[i] == 0.0f && !std::signbit(series[i])) {
                out.put('0');
            } else {
                out.putFloat(series[i]);
            }
        }
        out.put(',');
        if (!inOrder) {
            out.put(labels[i]);
        } else {
            const vlm::TradingPoint* shown = nullptr;
            while (next < points.size() && static_cast<std::size_t>(points[next].bar) <= i) {
                if (static_cast<std::size_t>(points[next].bar) == i) shown = &points[next];
                ++next;
            }
            if (shown != nullptr) out.put(vlm::PointLabel(*shown));
        }
        out.put('\n');
        out.written();
    }
}

std::string analysisCsv(const BarSeries& bars, const Analysis& a) {
    std::string out;
    TextSink sink(out);
    writeAnalysisCsv(sink, bars, a);
    sink.flush();
    return out;
}

void writeStructuresJson(TextSink& out, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot) {
    out.put("{\n  \"source\": ");
    out.putJsonString(source);
    out.put(",\n  \"bars\": ");
    out.putInt(static_cast<long long>(bars.size()));
    out.put(",\n  \"strokes\": ");
    putMarks(out, a.strokes, bars, true);
    out.put(",\n  \"segments\": ");
    putMarks(out, a.segments, bars, true);
    out.put(",\n  \"pivots\": [");
    std::size_t written = 0;
    for (std::size_t p = 0; p < a.pivots.size(); ++p, ++written) {
        out.put(written ? ",\n    " : "\n    ");
        putPivot(out, a.pivots[p], a.runCounts[p], false, bars);
        out.written();
    }
    if (withOpenPivot && a.openPivot) {
        const float run = vlm::RunCountAfter(a.pivots, a.runCounts, *a.openPivot);
        out.put(written ? ",\n    " : "\n    ");
        putPivot(out, *a.openPivot, run, true, bars);
        ++written;
    }
    out.put(written ? "\n  ]" : "]");
    out.put(",\n  \"points\": ");
    putPoints(out, a.points, bars);
    out.put("\n}\n");
    out.written();
}

std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot) {
    std::string out;
    TextSink sink(out);
    writeStructuresJson(sink, source, bars, a, withOpenPivot);
    sink.flush();
    return out;
}

}  // namespace vlmstruct
