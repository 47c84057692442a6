#include "faces/replay_text.h"

#include <string_view>

namespace vlm {

const char* subjectName(EventSubject subject) {
    switch (subject) {
        case EventSubject::TurningPoint: return "turning_point";
        case EventSubject::Stroke: return "stroke";
        case EventSubject::Segment: return "segment";
        case EventSubject::SegmentNoPullback: return "segment_no_pullback";
        case EventSubject::Pivot: return "pivot";
        case EventSubject::PivotUnderWay: return "pivot_under_way";
    }
    return "";
}

const char* kindName(EventKind kind) {
    switch (kind) {
        case EventKind::Appeared: return "appeared";
        case EventKind::Moved: return "moved";
        case EventKind::Vanished: return "vanished";
        case EventKind::Confirmed: return "confirmed";
        case EventKind::Closed: return "closed";
        case EventKind::Dropped: return "dropped";
        case EventKind::Withdrawn: return "withdrawn";
        case EventKind::Opened: return "opened";
        case EventKind::Extended: return "extended";
    }
    return "";
}

char* describe(char* out, const ReplayEvent& e, FloatText* floats) {
    static constexpr std::string_view kSubjectText[] = {"turning point", "stroke", "segment",
                                                        "segment (no pullback)", "pivot",
                                                        "pivot under way"};
    EventText t(out, floats);
    t.text(kSubjectText[static_cast<int>(e.subject)]);
    if (e.subject == EventSubject::Pivot || e.subject == EventSubject::PivotUnderWay) {
        const Pivot& p = e.pivot;
        t.text(" [").integer(p.start).text(", ").integer(p.end).text("]");
        const auto zone = [&] {
            t.text(" (").number(p.lower).text(" to ").number(p.upper).text(", ");
            t.text(p.trend > 0.0f ? "rising)" : "falling)");
        };
        switch (e.kind) {
            case EventKind::Closed: t.text(" closed, retained"); zone(); break;
            case EventKind::Dropped: t.text(" closed, dropped"); zone(); break;
            case EventKind::Opened: t.text(" opened"); zone(); break;
            case EventKind::Extended: t.text(" extended to bar ").integer(p.end); break;
            default: t.text(" ").text(kindName(e.kind));
        }
        return t.end();
    }
    t.text(e.direction > 0.0f ? " top" : " bottom");
    if (e.kind == EventKind::Moved) {
        t.text(" moved from bar ").integer(e.from).text(" to bar ").integer(e.at);
    } else {
        t.text(" at bar ").integer(e.at).text(" ").text(kindName(e.kind));
    }
    t.text(" (").number(e.price).text(")");
    return t.end();
}

std::string describe(const ReplayEvent& e) {
    char text[kEventTextSize];
    return {text, describe(text, e)};
}

std::string PointLabel(const TradingPoint& point) {
    char text[kPointLabelSize];
    return {text, PointLabel(text, point)};
}

char* PointLabel(char* out, const TradingPoint& point) {
    bool first = true;
    for (int c = 1; c <= 3; ++c) {
        if (!point.has(c)) continue;
        if (!first) *out++ = '+';
        first = false;
        *out++ = point.side == PointSide::Buy ? 'B' : 'S';
        *out++ = static_cast<char>('0' + c);
    }
    return out;
}

char* describe(char* out, const PointReplayEvent& e, FloatText* floats) {
    const TradingPoint& p = e.point.point;
    EventText t(PointLabel(EventText(out).text("trading point ").end(), p), floats);
    t.text(" at bar ").integer(p.bar).text(" ").text(kindName(e.kind)).text(" (").number(p.price).text(")");
    return t.end();
}

std::string describe(const PointReplayEvent& e) {
    char text[kEventTextSize];
    return {text, describe(text, e)};
}

}  // namespace vlm
