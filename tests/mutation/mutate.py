#!/usr/bin/python3
"""One-token faults in the core, the trading points, the levels, the
streaming engine and replay, the bar-file reader and the floating-point
guard, each built and run against the tests that judge its file. A fault the
tests do not notice is a rule they do not pin.

The repository is copied to a temporary folder first (the files git knows of,
as they are in the working tree), so the working tree is never touched.

    /usr/bin/python3 tests/mutation/mutate.py              # every mutant
    /usr/bin/python3 tests/mutation/mutate.py -k pivot     # those whose file or class has "pivot"
    /usr/bin/python3 tests/mutation/mutate.py -k src/levels
    /usr/bin/python3 tests/mutation/mutate.py --list
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TEST_TIMEOUT = 60  # seconds per binary; a walk that never ends counts as caught

# The bar-file reader's own tests among the bar-file library's tests.
BAR_FILE_TESTS = "BarFile*:Dates.*:DateOrder.*:Prices.*:Utf8Check.*:Files/*"

# The tests that judge a file's faults: (area, path prefix, test programs),
# the first entry whose prefix starts the path; a program may name the
# gtest filter of the tests that read the file after a colon. They run in
# order, and the first that fails catches the fault.
JUDGES = [
    ("guard", "src/plugin/", ["plugin_tests"]),
    ("state", "src/state/", ["state_tests", "stream_tests", "points_tests"]),
    ("stream", "src/stream/", ["stream_tests", "points_tests", "state_tests"]),
    ("faces", "src/faces/", ["stream_tests", "points_tests"]),
    ("points", "src/points/", ["points_tests", "levels_tests"]),
    ("levels", "src/levels/", ["levels_tests", "state_tests", "analysis_tests:Levels.*"]),
    ("bar file", "src/barfile/", ["barfile_tests:" + BAR_FILE_TESTS]),
    ("core", "src/", ["core_tests", "plugin_tests"]),
]


def judge(path):
    for area, prefix, programs in JUDGES:
        if path.startswith(prefix):
            return area, programs
    sys.exit(f"mutate: no tests judge {path}; add it to JUDGES")


@dataclass(frozen=True)
class Mutant:
    path: str         # file under the repository
    fragment: str     # occurs exactly once in the file
    replacement: str  # the fragment with one token changed
    kind: str         # class of fault
    equivalent: str = ""  # why no output can change, for the few that cannot


K_CHULI_H = "src/kline/kxian_chuli.h"
K_CHULI = "src/kline/kxian_chuli.cpp"
K_SIGNAL = "src/kline/kxian_signal.cpp"
K_SIGNAL_H = "src/kline/kxian_signal.h"
K_MARK = "src/signal/signal_mark.h"
K_POINT = "src/signal/turning_point.h"
S_CHULI_H = "src/stroke/bi_chuli.h"
S_CHULI = "src/stroke/bi_chuli.cpp"
S_SIGNAL = "src/stroke/bi_signal.cpp"
S_SIGNAL_H = "src/stroke/bi_signal.h"
SEG = "src/segment/segment_signal.cpp"
P_TRACK = "src/pivot/pivot_tracker.cpp"
P_WALK = "src/pivot/pivot_walk.cpp"
P_LIST = "src/pivot/pivot_list.cpp"
P_OUT = "src/pivot/pivot_outputs.cpp"
P_OUT_H = "src/pivot/pivot_outputs.h"
FUNCS = "src/functions/series_functions.cpp"
MACD = "src/points/macd.cpp"
POINTS = "src/points/trading_points.cpp"
P_STREAM = "src/points/point_stream.cpp"
P_REPLAY = "src/points/point_replay.cpp"
ENGINE = "src/stream/streaming_engine.cpp"
ENGINE_H = "src/stream/streaming_engine.h"
STATE = "src/state/state.h"
REPLAY = "src/stream/replay.cpp"
RESAMPLE = "src/levels/resample.cpp"
CIVIL = "src/levels/civil_time.h"
LINKS = "src/levels/links.cpp"
LINKS_H = "src/levels/links.h"
L_REPLAY = "src/levels/level_replay.cpp"
B_FILE = "src/barfile/bar_file.cpp"
B_READER = "src/barfile/bar_reader.cpp"
B_PLAIN_ROW = "src/barfile/plain_row.h"
B_NUMBER = "src/barfile/number_text.cpp"
B_SHORT = "src/barfile/short_numbers.cpp"
B_SHORT_H = "src/barfile/short_numbers.h"
B_DATES = "src/barfile/dates.cpp"
B_DATES_H = "src/barfile/dates.h"
B_FIXED_DATE = "src/barfile/fixed_date.cpp"
B_DATE_STAMP = "src/barfile/date_stamp.cpp"
GUARD = "src/plugin/host_fp_guard.cpp"

STRICT = "comparison strictness"
MIRROR = "mirror comparison"
DROPPED = "dropped assignment"
WRONG = "wrong variable"
CONST = "constant"
LOGIC = "logic operator"
ARITH = "arithmetic operator"

# Checked once by trying every such decimal against from_chars.
EIGHT_DIGITS = "every decimal of eight significant digits and one to ten decimals rounds alike either way"

M = Mutant
MUTANTS = [
    # Merged bars.
    M(K_CHULI_H, "if (high > last.high && low > last.low)", "if (high >= last.high && low > last.low)", STRICT),
    M(K_CHULI_H, "if (high > last.high && low > last.low)", "if (high > last.high && low >= last.low)", STRICT),
    M(K_CHULI_H, "if (high < last.high && low < last.low)", "if (high <= last.high && low < last.low)", STRICT),
    M(K_CHULI_H, "if (high < last.high && low < last.low)", "if (high < last.high && low <= last.low)", STRICT),
    M(K_CHULI_H, "if (high <= last.high && low >= last.low)", "if (high < last.high && low >= last.low)", STRICT),
    M(K_CHULI_H, "if (high <= last.high && low >= last.low)", "if (high <= last.high && low > last.low)", STRICT),
    M(K_CHULI_H, "if (high > last.high && low > last.low)", "if (high > last.high && low > last.high)", WRONG),
    M(K_CHULI_H, "{Kxian{high, low, -1, bar, bar, bar}, true}", "{Kxian{high, low, 1, bar, bar, bar}, true}", CONST),
    M(K_CHULI_H, "const std::int32_t bar = last.endIndex + 1;", "const std::int32_t bar = last.extremeIndex + 1;", WRONG),
    M(K_CHULI_H, "    merged.endIndex = bar;\n", "\n", DROPPED),
    M(K_CHULI_H, "= last.direction == 1 ? low : high;", "= last.direction == 1 ? high : low;", WRONG),
    M(K_CHULI_H, "(last.direction == 1 ? merged.low : merged.high)", "(last.direction == -1 ? merged.low : merged.high)", MIRROR),
    M(K_CHULI_H, "= last.direction == 1 ? high : low;", "= last.direction == 1 ? low : high;", WRONG),
    M(K_CHULI_H, "        merged.extremeIndex = bar;\n", "\n", DROPPED),
    M(K_CHULI, "kxianList.push_back(Kxian{high, low, 1, 0, 0, 0});", "kxianList.push_back(Kxian{high, low, -1, 0, 0, 0});", CONST),
    M(K_CHULI, "list[0] = Kxian{high[0], low[0], 1, 0, 0, 0};", "list[0] = Kxian{high[0], low[0], 1, 0, 0, 1};", CONST),
    M(K_CHULI, "        i = 1;\n", "\n", DROPPED),
    M(K_CHULI, "        last = r.record;\n", "\n", DROPPED),
    M(K_CHULI, "size += r.opensRecord ? 1 : 0;", "size += r.opensRecord ? 1 : 1;", CONST),
    # Turning points.
    M(K_SIGNAL_H, "return list[k].direction != list[k + 1].direction;", "return list[k].direction == list[k + 1].direction;", MIRROR),
    M(K_SIGNAL, "for (std::size_t k = from; k < to; ++k)", "for (std::size_t k = from; k + 1 < to; ++k)", CONST),
    M(K_SIGNAL, "            mark(out, list[k]);", "            mark(out, list[k + 1]);", WRONG),
    M(K_SIGNAL, "    mark(out, list.back());\n", "\n", DROPPED),
    M(K_SIGNAL, "if (record.extremeIndex >= 0 && m.bar < out.size())", "if (record.extremeIndex > 0 && m.bar < out.size())", STRICT),
    M(K_MARK, "return direction == 1 ? 1.0f : -1.0f;", "return direction == -1 ? 1.0f : -1.0f;", MIRROR),
    # Strokes.
    M(S_CHULI_H, "return direction_ == -1 ? bar.low : bar.high;", "return direction_ == -1 ? bar.high : bar.low;", WRONG),
    M(S_CHULI_H, "return direction_ == -1 ? a < b : a > b;", "return direction_ == -1 ? a <= b : a > b;", STRICT),
    M(S_CHULI_H, "return direction_ == -1 ? a < b : a > b;", "return direction_ == -1 ? a < b : a >= b;", STRICT),
    M(S_CHULI, "if (haveRunEnd_ && beyond(price, nearestRunEnd_))", "if (haveRunEnd_ && beyond(nearestRunEnd_, price))", MIRROR),
    M(S_CHULI, "        confirmed_ = true;\n", "\n", DROPPED),
    M(S_CHULI, "        if (confirmation.add(bar)) {\n            return true;", "        if (confirmation.add(bar)) {\n            return false;", CONST),
    M(S_CHULI, "if (size_ >= 2 && beyond(newer_, older_)", "if (size_ >= 3 && beyond(newer_, older_)", CONST),
    M(S_CHULI, "beyond(newer_, older_) && beyond(price, newer_)", "beyond(older_, newer_) && beyond(price, newer_)", MIRROR),
    M(S_CHULI, "if (!haveRunEnd_ || beyond(nearestRunEnd_, price))", "if (!haveRunEnd_ || beyond(price, nearestRunEnd_))", MIRROR),
    M(S_CHULI, "        haveRunEnd_ = true;\n", "\n", DROPPED),
    M(S_CHULI, "    older_ = newer_;\n", "\n", DROPPED),
    M(S_CHULI, "    ++size_;\n", "\n", DROPPED),
    M(S_CHULI, "if (stroke.direction == 1 ? bar.high >= stroke.high : bar.low <= stroke.low)",
      "if (stroke.direction == 1 ? bar.high > stroke.high : bar.low <= stroke.low)", STRICT),
    M(S_CHULI, "if (stroke.direction == 1 ? bar.high >= stroke.high : bar.low <= stroke.low)",
      "if (stroke.direction == 1 ? bar.high >= stroke.high : bar.low < stroke.low)", STRICT),
    M(S_CHULI, "Bi{1, bar.startIndex, bar.endIndex, bar.high, bar.low, {bar}}",
      "Bi{1, bar.endIndex, bar.endIndex, bar.high, bar.low, {bar}}", WRONG),
    M(S_CHULI, "Bi{1, bar.startIndex, bar.endIndex, bar.high, bar.low, {bar}}",
      "Bi{1, bar.startIndex, bar.extremeIndex, bar.high, bar.low, {bar}}", WRONG),
    M(S_CHULI, "            stroke.endIndex = bar.endIndex;\n", "\n", DROPPED),
    M(S_CHULI, "(up ? stroke.high : stroke.low) = up ? bar.high : bar.low;",
      "(up ? stroke.high : stroke.low) = up ? bar.high : bar.high;", WRONG),
    M(S_CHULI, "(up ? stroke.high : stroke.low) = up ? bar.high : bar.low;",
      "(up ? stroke.high : stroke.low) = up ? bar.low : bar.low;", WRONG),
    M(S_CHULI, "                    stroke.endIndex,\n", "                    stroke.startIndex,\n", WRONG),
    M(S_CHULI, "                    bar.endIndex,\n", "                    bar.extremeIndex,\n", WRONG),
    M(S_CHULI, "up ? stroke.high : bar.high,", "up ? stroke.high : stroke.high,", WRONG),
    M(S_CHULI, "up ? bar.low : stroke.low,", "up ? stroke.low : stroke.low,", WRONG),
    M(S_CHULI, "    pending.start = k + 1;\n", "    pending.start = k;\n", CONST),
    M(S_CHULI, "pending.confirmation = PendingConfirmation(-biList.back().direction);",
      "pending.confirmation = PendingConfirmation(biList.back().direction);", MIRROR),
    M(S_CHULI, "kxians.subspan(pending.start, k + 1 - pending.start)", "kxians.subspan(pending.start, k - pending.start)", CONST),
    M(S_SIGNAL_H, "stroke.kxianList.back().extremeIndex)", "stroke.kxianList.back().endIndex)", WRONG),
    M(S_SIGNAL_H, "stroke.kxianList.back().extremeIndex)", "stroke.kxianList.front().extremeIndex)", WRONG),
    M(S_SIGNAL_H, "stroke.direction == 1 ? kStrokeTop : kStrokeBottom", "stroke.direction == -1 ? kStrokeTop : kStrokeBottom", MIRROR),
    M(S_SIGNAL, "if (bi.kxianList.back().extremeIndex >= 0 && m.bar < out.size())", "if (bi.kxianList.back().extremeIndex > 0 && m.bar < out.size())", STRICT),
    # Segments.
    M(SEG, "        prevTopHigh_ = lastTopHigh_;\n", "\n", DROPPED),
    M(SEG, "        lastTopHigh_ = high[i];", "        lastTopHigh_ = low[i];", WRONG),
    M(SEG, "        prevBottomLow_ = lastBottomLow_;\n", "\n", DROPPED),
    M(SEG, "        lastBottomLow_ = low[i];", "        lastBottomLow_ = high[i];", WRONG),
    M(SEG, "if (high[i] > high[topIndex_])", "if (high[i] >= high[topIndex_])", STRICT),
    M(SEG, "if (low[i] < low[bottomIndex_])", "if (low[i] <= low[bottomIndex_])", STRICT),
    M(SEG, "                marks.pop_back();  // the top mark moves", "                // the top mark moves", DROPPED),
    M(SEG, "                marks.pop_back();\n                markBottom(i, marks);", "                markBottom(i, marks);", DROPPED),
    M(SEG, "upSegmentMeetsBottom(i, low[i], low[bottomIndex_], marks);", "upSegmentMeetsBottom(i, low[i], low[topIndex_], marks);", WRONG),
    M(SEG, "downSegmentMeetsTop(i, high[i], high[topIndex_], marks);", "downSegmentMeetsTop(i, high[i], high[bottomIndex_], marks);", WRONG),
    M(SEG, "return prevTopHigh_ > 0.0f &&", "return prevTopHigh_ >= 0.0f &&", STRICT),
    M(SEG, "lastTopHigh_ > 0.0f && prevBottomLow_", "lastTopHigh_ >= 0.0f && prevBottomLow_", STRICT),
    M(SEG, "prevBottomLow_ > 0.0f &&\n", "prevBottomLow_ >= 0.0f &&\n", STRICT),
    M(SEG, "           lastBottomLow_ > 0.0f;", "           lastBottomLow_ >= 0.0f;", STRICT),
    M(SEG, "const bool startBroken = low < startLow;", "const bool startBroken = low <= startLow;", STRICT),
    M(SEG, "const bool startBroken = high > startHigh;", "const bool startBroken = high >= startHigh;", STRICT),
    M(SEG, "extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ < prevBottomLow_",
      "extremesSet() && lastTopHigh_ <= prevTopHigh_ && lastBottomLow_ < prevBottomLow_", STRICT),
    M(SEG, "extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ < prevBottomLow_",
      "extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ <= prevBottomLow_", STRICT),
    M(SEG, "extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ > prevBottomLow_",
      "extremesSet() && lastTopHigh_ >= prevTopHigh_ && lastBottomLow_ > prevBottomLow_", STRICT),
    M(SEG, "extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ > prevBottomLow_",
      "extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ >= prevBottomLow_", STRICT),
    M(SEG, "extremesSet() && lastTopHigh_ < prevTopHigh_ && lastBottomLow_ < prevBottomLow_",
      "extremesSet() && lastTopHigh_ > prevTopHigh_ && lastBottomLow_ < prevBottomLow_", MIRROR),
    M(SEG, "if (pullbackLow_ == 0.0f)", "if (pullbackLow_ != 0.0f)", MIRROR),
    M(SEG, "            pullbackLow_ = low;\n", "\n", DROPPED),
    M(SEG, "    if (startBroken || lowerTopLowerBottom) {", "    if (startBroken && lowerTopLowerBottom) {", LOGIC),
    M(SEG, "lastTopHigh_ > 0.0f && prevBottomLow_ > 0.0f", "lastTopHigh_ > 0.0f || prevBottomLow_ > 0.0f", LOGIC),
    M(SEG, "} else if (low < pullbackLow_) {", "} else if (low <= pullbackLow_) {", STRICT),
    M(SEG, "} else if (high > pullbackHigh_) {", "} else if (high >= pullbackHigh_) {", STRICT),
    M(SEG, "            pullbackHigh_ = high;\n", "            pullbackHigh_ = startHigh;\n", WRONG),
    M(SEG, "    topIndex_ = i;\n    pullbackHigh_ = 0.0f;\n    pullbackLow_ = 0.0f;\n",
      "    topIndex_ = i;\n    pullbackHigh_ = 0.0f;\n", DROPPED),
    M(SEG, "    bottomIndex_ = i;\n    pullbackHigh_ = 0.0f;\n", "    bottomIndex_ = i;\n", DROPPED),
    M(SEG, "    topIndex_ = i;\n    pullbackHigh_ = 0.0f;\n", "    topIndex_ = i;\n", DROPPED,
      equivalent="pullbackHigh is read only in a down segment, and the bottom mark that starts one clears it"),
    M(SEG, "    topIndex_ = i;\n", "\n", DROPPED),
    M(SEG, "    bottomIndex_ = i;\n", "\n", DROPPED),
    M(SEG, "if (bi[i] == 1.0f || bi[i] == -1.0f)", "if (bi[i] == 1.0f || bi[i] == 1.0f)", WRONG),
    # Pivot tracker.
    M(P_TRACK, "    bars[2] = bars[1];\n", "\n", DROPPED),
    M(P_TRACK, "    prices[2] = prices[1];\n", "\n", DROPPED),
    M(P_TRACK, "    prices[1] = prices[0];\n", "\n", DROPPED),
    M(P_TRACK, "float PivotTracker::minHigh() const { return std::min(topHigh[0], topHigh[1]); }",
      "float PivotTracker::minHigh() const { return std::min(topHigh[0], topHigh[2]); }", WRONG),
    M(P_TRACK, "float PivotTracker::minHigh() const { return std::min(topHigh[0], topHigh[1]); }",
      "float PivotTracker::minHigh() const { return std::max(topHigh[0], topHigh[1]); }", MIRROR),
    M(P_TRACK, "float PivotTracker::maxLow() const { return std::max(bottomLow[0], bottomLow[1]); }",
      "float PivotTracker::maxLow() const { return std::max(bottomLow[0], bottomLow[2]); }", WRONG),
    M(P_TRACK, "if (high < lower) {", "if (high <= lower) {", STRICT),
    M(P_TRACK, "if (low > upper) {", "if (low >= upper) {", STRICT),
    M(P_TRACK, "            exitDirection = -1;", "            exitDirection = 1;", CONST),
    M(P_TRACK, "            exitDirection = 1;", "            exitDirection = -1;", CONST),
    M(P_TRACK, "end = std::max(end, topBar[1]);", "end = std::max(end, topBar[0]);", WRONG),
    M(P_TRACK, "end = std::max(end, bottomBar[1]);", "end = std::max(end, bottomBar[0]);", WRONG),
    M(P_TRACK, "end = std::max(end, bottomBar[0]);  // the zone", "end = std::max(end, topBar[0]);  // the zone", WRONG),
    M(P_TRACK, "        end = std::max(end, topBar[0]);\n        return false;", "        return false;", DROPPED),
    M(P_TRACK, "const bool slotsFilled = topBar[2] > 0 &&", "const bool slotsFilled = topBar[2] >= 0 &&", STRICT),
    M(P_TRACK, "topBar[0] > 0 &&\n                             bottomBar[1] > 0 && bottomBar[0] > 0;",
      "topBar[0] > 0 &&\n                             bottomBar[1] >= 0 && bottomBar[0] > 0;", STRICT),
    M(P_TRACK, "bottomBar[2] > 0 &&\n                             bottomBar[1] > 0", "bottomBar[2] >= 0 &&\n                             bottomBar[1] > 0", STRICT),
    M(P_TRACK, "const bool slotsFilled = topBar[1] > 0 &&", "const bool slotsFilled = topBar[1] >= 0 &&", STRICT),
    M(P_TRACK, "if (slotsFilled && topHigh[2] > topHigh[1] && lowerBound < upperBound)",
      "if (slotsFilled && topHigh[2] >= topHigh[1] && lowerBound < upperBound)", STRICT),
    M(P_TRACK, "if (slotsFilled && bottomLow[2] < bottomLow[1] && lowerBound < upperBound)",
      "if (slotsFilled && bottomLow[2] <= bottomLow[1] && lowerBound < upperBound)", STRICT),
    M(P_TRACK, "if (slotsFilled && topHigh[2] > topHigh[1] && lowerBound < upperBound)",
      "if (slotsFilled && topHigh[2] > topHigh[1] && lowerBound <= upperBound)", STRICT),
    M(P_TRACK, "if (slotsFilled && bottomLow[2] < bottomLow[1] && lowerBound < upperBound)",
      "if (slotsFilled && bottomLow[2] < bottomLow[1] && lowerBound <= upperBound)", STRICT),
    M(P_TRACK, "if (slotsFilled && bottomLow[2] < bottomLow[1] && lowerBound < upperBound)",
      "if (slotsFilled && bottomLow[2] > bottomLow[1] && lowerBound < upperBound)", MIRROR),
    M(P_TRACK, "        start = bottomBar[1];", "        start = bottomBar[0];", WRONG),
    M(P_TRACK, "        start = topBar[1];", "        start = topBar[0];", WRONG),
    M(P_TRACK, "        trend = -1;", "        trend = 1;", CONST),
    M(P_TRACK, "        trend = -1;\n        start = bottomBar[1];\n        end = bar;\n",
      "        trend = -1;\n        start = bottomBar[1];\n", DROPPED),
    M(P_TRACK, "        trend = 1;\n        start = topBar[1];\n        end = bar;\n        upper = upperBound;\n        lower = lowerBound;",
      "        trend = 1;\n        start = topBar[1];\n        end = bar;\n        upper = lowerBound;\n        lower = lowerBound;", WRONG),
    # Pivot walk and trim.
    M(P_WALK, "if (rising ? p.price >= best : p.price <= best)", "if (rising ? p.price > best : p.price <= best)", STRICT),
    M(P_WALK, "if (rising ? p.price >= best : p.price <= best)", "if (rising ? p.price >= best : p.price < best)", STRICT),
    M(P_WALK, "retain = retain || counter >= 3;", "retain = retain || counter >= 2;", CONST),
    M(P_WALK, "retain = retain || counter >= 3;", "retain = retain || counter >= 4;", CONST),
    M(P_WALK, "            cut = lastOpposite;\n", "\n", DROPPED),
    M(P_WALK, "            lastOpposite = p.bar;\n", "\n", DROPPED),
    M(P_WALK, "return {retain, retain ? cut : end, bestBar};", "return {retain, retain ? cut : end, cut};", WRONG),
    M(P_WALK, "return {retain, retain ? cut : end, bestBar};", "return {retain, retain ? cut : cut, bestBar};", WRONG),
    M(P_WALK, "if (p.isTop != rising) {", "if (p.isTop == rising) {", MIRROR),
    M(P_WALK, "            best = p.price;\n            bestBar = p.bar;\n            continue;",
      "            best = p.price;\n            continue;", DROPPED),
    M(P_WALK, "            counter = 1;\n            best = p.price;\n", "            counter = 1;\n", DROPPED),
    M(P_WALK, "k < points.size() && points[k].bar <= end; ++k)", "k < points.size() && points[k].bar < end; ++k)", STRICT),
    M(P_WALK, "for (std::size_t k = firstPointAtOrAfter(points, start);", "for (std::size_t k = firstPointAtOrAfter(points, start + 1);", CONST),
    M(P_WALK, "ZhongShuOne.trend == 1 && ZhongShuOne.exitDirection == -1;", "ZhongShuOne.trend == 1 && ZhongShuOne.exitDirection == 1;", MIRROR),
    M(P_WALK, "std::int32_t resumeBar = pivot.end;", "std::int32_t resumeBar = pivot.start;", WRONG),
    M(P_WALK, "            pivot.end = trim.end;\n", "\n", DROPPED),
    M(P_WALK, "            resumeBar = trim.resumeBar;\n", "\n", DROPPED),
    M(P_WALK, "        if (retain) {\n            list.push_back(pivot);", "        if (!retain) {\n            list.push_back(pivot);", MIRROR),
    M(P_WALK, "next_ = firstPointAtOrAfter(points, resumeBar);", "next_ = firstPointAtOrAfter(points, resumeBar + 1);", CONST),
    M(P_WALK, "if (resumeBar <= walkStart_) {", "if (resumeBar < walkStart_) {", STRICT),
    M(P_WALK, "[](const TurningPoint& p, std::int32_t b) { return p.bar < b; });", "[](const TurningPoint& p, std::int32_t b) { return p.bar <= b; });", STRICT),
    M(P_WALK, "        ++counter;\n", "\n", DROPPED),
    M(P_WALK, "        ZhongShuOne.Reset();\n", "\n", DROPPED),
    M(K_POINT, "return {static_cast<std::int32_t>(mark.bar), top, top ? high[mark.bar] : low[mark.bar]};",
      "return {static_cast<std::int32_t>(mark.bar), top, top ? low[mark.bar] : low[mark.bar]};", WRONG),
    M(P_WALK, "if (bi[i] == 1.0f || bi[i] == -1.0f) points.push_back", "if (bi[i] == 1.0f || bi[i] < 0.0f) points.push_back", CONST),
    M(P_LIST, "if (options.includeOpenPivot) {", "if (!options.includeOpenPivot) {", MIRROR),
    # Pivot outputs.
    M(P_OUT, "std::max<std::int64_t>(std::int64_t{pivot.start} + 1, 0)", "std::max<std::int64_t>(std::int64_t{pivot.start}, 0)", CONST),
    M(P_OUT, "std::min<std::int64_t>(std::int64_t{pivot.end} - 1,", "std::min<std::int64_t>(std::int64_t{pivot.end},", CONST),
    M(P_OUT, "for (std::int64_t j = first; j <= last; ++j)", "for (std::int64_t j = first; j < last; ++j)", STRICT),
    M(P_OUT, "setBar(out, std::int64_t{ZhongShuOne.end} - 1, 2.0f);", "setBar(out, std::int64_t{ZhongShuOne.end} - 1, 1.0f);", CONST),
    M(P_OUT, "fillInside(out, ZhongShuOne, ZhongShuOne.upper);", "fillInside(out, ZhongShuOne, ZhongShuOne.lower);", WRONG),
    M(P_OUT, "fillInside(out, ZhongShuOne, ZhongShuOne.trend);", "fillInside(out, ZhongShuOne, runCount);", WRONG),
    M(P_OUT, "        counts[p] = runCount;\n", "\n", DROPPED),
    M(P_OUT_H, "previous->trend == pivot.trend) ? previousCount + 1.0f : 1.0f;", "previous->trend != pivot.trend) ? previousCount + 1.0f : 1.0f;", MIRROR),
    M(P_OUT_H, "previous->trend == pivot.trend) ? previousCount + 1.0f : 1.0f;", "previous->trend == pivot.trend) ? previousCount + 1.0f : previousCount;", WRONG),
    # The functions the plug-in runs.
    M(FUNCS, "publishSignal(CalcSegmentSignal(in.signal, in.high, in.low), out);", "publishSignal(CalcSegmentSignalNoPullback(in.signal, in.high, in.low), out);", WRONG),
    M(FUNCS, "publishSignal(CalcBiSignal(in.high, in.low), out);", "publishSignal(CalcKxianSignal(in.high, in.low), out);", WRONG),
    M(FUNCS, "publishPivots(in, PivotOutput::Trend, out);", "publishPivots(in, PivotOutput::RunCount, out);", WRONG),
    M(FUNCS, "publishPivots(in, PivotOutput::Upper, out);", "publishPivots(in, PivotOutput::Lower, out);", WRONG),
    M(FUNCS, "publishSignal(CalcSegmentSignalNoPullback(in.signal, in.high, in.low), out);", "publishSignal(CalcSegmentSignal(in.signal, in.high, in.low), out);", WRONG),
    # MACD.
    M(MACD, "return 2.0 / (static_cast<double>(n) + 1.0);", "return 2.0 / (static_cast<double>(n) + 2.0);", CONST),
    M(MACD, "return alpha * x + (1.0 - alpha) * ema;", "return alpha * ema + (1.0 - alpha) * x;", WRONG),
    M(MACD, "if (!std::isfinite(close)) {", "if (std::isnan(close)) {", LOGIC),
    M(MACD, "slowEma_ = step(slowEma_, slowAlpha_, x);", "slowEma_ = step(slowEma_, fastAlpha_, x);", WRONG),
    M(MACD, "value_.dea = step(value_.dea, signalAlpha_, value_.dif);", "value_.dea = step(value_.dea, slowAlpha_, value_.dif);", WRONG),
    M(MACD, "value_.histogram = 2.0 * (value_.dif - value_.dea);", "value_.histogram = 2.0 * (value_.dif + value_.dea);", ARITH),
    M(MACD, "params.signal < 1)", "params.signal < 0)", CONST),
    M(MACD, "        value_.dea = 0.0;\n", "\n", DROPPED,
      equivalent="the values start at zero and this branch runs once, before any other sets them"),
    # Trading points.
    M(POINTS, "return a.isTop ? a.price > b : a.price < b; }", "return a.isTop ? a.price >= b : a.price < b; }", STRICT),
    M(POINTS, "return a.isTop ? a.price > b : a.price < b; }", "return a.isTop ? a.price > b : a.price <= b; }", STRICT),
    M(POINTS, "if (options.class1MinRun < 1) {", "if (options.class1MinRun < 2) {", CONST),
    M(POINTS, "        if (ends[probe].bar < bar) {", "        if (ends[probe].bar <= bar) {", STRICT),
    M(POINTS, "            low = probe + 1;\n", "            low = probe;\n", CONST,
      equivalent="the end at probe lies before the bar, so the search from probe passes over it"),
    M(POINTS, "for (auto i = static_cast<std::size_t>(from.bar) + 1; i <=", "for (auto i = static_cast<std::size_t>(from.bar); i <=", CONST),
    M(POINTS, "i <= static_cast<std::size_t>(to.bar); ++i)", "i < static_cast<std::size_t>(to.bar); ++i)", STRICT),
    M(POINTS, "const bool withStroke = sign * h > 0.0;", "const bool withStroke = sign * h >= 0.0;", STRICT,
      equivalent="a zero histogram adds nothing to an area and raises no peak"),
    M(POINTS, "const double sign = to.isTop ? 1.0 : -1.0;", "const double sign = to.isTop ? -1.0 : 1.0;", MIRROR),
    M(POINTS, "static_cast<double>(std::int64_t{to.bar} - from.bar);", "static_cast<double>(std::int64_t{to.bar} - from.bar + 1);", CONST),
    M(POINTS, "                force += std::fabs(h);\n                break;\n            case ForceMeasure::Peak:",
      "                force += h;\n                break;\n            case ForceMeasure::Peak:", WRONG),
    M(POINTS, "if (withStroke) force = std::max(force, std::fabs(h));", "if (withStroke) force += std::fabs(h);", WRONG),
    M(POINTS, "if (k >= finalEnds_) return StrokeForce", "if (k > finalEnds_) return StrokeForce", STRICT),
    M(POINTS, "pivot.runCount >= static_cast<float>(options.class1MinRun)", "pivot.runCount > static_cast<float>(options.class1MinRun)", STRICT),
    M(POINTS, "ends[e].isTop == (trend == 1.0f)) {", "ends[e].isTop != (trend == 1.0f)) {", MIRROR),
    M(POINTS, "ends[next_ - 1].bar <= lastStart)", "ends[next_ - 1].bar < lastStart)", STRICT),
    M(POINTS, "take(kBuy3, end.price > z.upper);", "take(kBuy3, end.price >= z.upper);", STRICT),
    M(POINTS, "take(kSell3, end.price < z.lower);", "take(kSell3, end.price <= z.lower);", STRICT),
    M(POINTS, " && end.price > ends[entering_].price);", ");", DROPPED),
    M(POINTS, "end.price < ends[entering_].price);", "end.price <= ends[entering_].price);", STRICT),
    M(POINTS, "if (k == kNone || k + 1 >= ends.size()) continue;", "if (k == kNone || k + 2 >= ends.size()) continue;", CONST),
    M(POINTS, "pullback.price > z.upper : pullback.price < z.lower;", "pullback.price >= z.upper : pullback.price < z.lower;", STRICT),
    M(POINTS, "if (!(leaving < options.divergenceRatio * entering)) continue;", "if (!(leaving <= options.divergenceRatio * entering)) continue;", STRICT),
    M(POINTS, "one.forceRatio = leaving / entering;", "one.forceRatio = entering / leaving;", WRONG),
    M(POINTS, "beyond(ends[k], ends[k + 2].price)", "beyond(ends[k + 2], ends[k].price)", MIRROR),
    M(POINTS, "two.follows = ends[k].bar;", "two.follows = ends[k + 2].bar;", WRONG),
    M(POINTS, "q.classes |= p.classes;", "q.classes = p.classes;", WRONG),
    M(POINTS, "            if (p.has(2)) q.follows = p.follows;\n", "\n", DROPPED),
    M(POINTS, "p + 1 < s.pivots.size() ? s.pivots[p + 1].pivot.start", "p + 1 < s.pivots.size() ? s.pivots[p].pivot.start", WRONG),
    M(POINTS, "out.histogram = MacdHistogram(read, macd);", "out.histogram = MacdHistogram(high, macd);", WRONG),
    # Trading points bar by bar.
    M(P_STREAM, "open ? openStartIndex_ : finalEnds - 3;", "open ? openStartIndex_ : finalEnds - 2;", CONST),
    M(P_STREAM, "open ? openStartIndex_ : finalEnds - 3;", "open ? openStartIndex_ : finalEnds - 4;", CONST),
    M(P_STREAM, "std::min(finalEnds - 1, settledIndex + 1);", "std::min(finalEnds - 1, settledIndex + 2);", CONST),
    M(P_STREAM, "return p.bar > wasFinalThrough;", "return p.bar >= wasFinalThrough;", STRICT),
    M(P_STREAM, "pending_[n].point.bar <= finalThrough_)", "pending_[n].point.bar < finalThrough_)", STRICT),
    M(P_STREAM, "while (firstOpen_ + 1 < finalPivots) {", "while (firstOpen_ < finalPivots) {", CONST),
    M(P_STREAM, "for (std::size_t k = 0; k < 2 && k < ends.size(); ++k) {\n        if (!(ends",
      "for (std::size_t k = 0; k < 1 && k < ends.size(); ++k) {\n        if (!(ends", CONST,
      equivalent="the end before the last moves only when a merged record closes, which moves the last end too"),
    M(P_STREAM, " || counts[seenFrom_ + p] != seen.runCount) return false;", ") return false;", DROPPED,
      equivalent="a listed pivot's run count follows from it and the pivots before it, each compared or final"),
    M(STATE, "        active_ = false;\n        tape_.restore(piece);", "        tape_.restore(piece);", DROPPED),
    M(P_STREAM, "    seenFrom_ = firstOpen_;\n", "\n", DROPPED,
      equivalent="the check then fails more often, never wrongly passes, and each evaluation gives the same points"),
    M(P_REPLAY, "if (point.has(c)) code = code * 10 + c;", "if (point.has(c)) code = code + c;", ARITH),
    M(P_REPLAY, "if (!pending.empty()) return {true, pending.back().point, false};",
      "if (!pending.empty()) return {true, pending.back().point, true};", CONST),
    M("src/faces/replay_columns.cpp", "orNaN(on, row.final ? 1.0 : 0.0)", "orNaN(on, row.final ? 0.0 : 1.0)", MIRROR),
    M("src/faces/replay_columns.cpp", "p.side == PointSide::Sell ? 1.0 : -1.0,", "p.side == PointSide::Buy ? 1.0 : -1.0,", MIRROR),
    M("src/faces/replay_text.cpp", "*out++ = point.side == PointSide::Buy ? 'B' : 'S';", "*out++ = point.side == PointSide::Sell ? 'B' : 'S';", MIRROR),
    M(P_REPLAY, "{{PointChange::Withdrawn, EventKind::Withdrawn},\n                                                            {PointChange::Appeared, EventKind::Appeared},",
      "{{PointChange::Appeared, EventKind::Appeared},\n                                                            {PointChange::Withdrawn, EventKind::Withdrawn},", WRONG),
    # The streaming engine.
    M(ENGINE, "if (after > before && after >= 2) {", "if (after > before && after >= 3) {", CONST),
    M(ENGINE, "turning.marks.push_back(KxianMark(list[k]));", "turning.marks.push_back(KxianMark(list[k + 1]));", WRONG),
    M(ENGINE, "if (strokes.final + 1 >= biList.size()) {", "if (strokes.final + 2 >= biList.size()) {", CONST),
    M(ENGINE, "segments.marks.empty() ? 0 : segments.marks.size() - 1;", "segments.marks.empty() ? 0 : segments.marks.size();", CONST),
    M(ENGINE, "tail.add({lastBar, MarkValue(-final.biList.back().direction)});", "tail.add({lastBar, MarkValue(final.biList.back().direction)});", MIRROR),
    M(ENGINE, "            tail.add({lastBar, 1.0f});", "            tail.add({lastBar, -1.0f});", CONST),
    M(ENGINE, "if (tailApplied_ && tail == appliedTail_) {", "if (tail == appliedTail_) {", LOGIC,
      equivalent="the tail is taken back only when a record closes, and the new tail then ends at another bar"),
    M(ENGINE, "marks.resize(tail.size == 0 ? 0 : tail.size - 1);", "marks.resize(tail.size);", CONST),
    M(ENGINE_H, "v(state::Settled(kxians, kxians.empty() ? 0 : kxians.size() - 1));", "v(state::Settled(kxians, kxians.size()));", DROPPED),
    M(ENGINE, "} else if (number > kMarkSeriesCount && number <= 9) {", "} else if (number > kMarkSeriesCount && number < 9) {", STRICT),
    M(ENGINE, "    finalCloses_ = closes_.size();\n}", "}", DROPPED),
    # Replay: events and as-of rows.
    M(REPLAY, "if (close > pivot.upper) return 1.0f;", "if (close >= pivot.upper) return 1.0f;", STRICT),
    M(REPLAY, "if (close < pivot.lower) return -1.0f;", "if (close <= pivot.lower) return -1.0f;", STRICT),
    M(REPLAY, "    if (std::isnan(close)) return kNaN;\n", "\n", DROPPED),
    M(REPLAY, "a.upper == b.upper && a.lower == b.lower;", "a.upper == b.upper;", DROPPED),
    M(REPLAY, "if (a != nullptr && b != nullptr && a->value == b->value) {", "if (a != nullptr && b != nullptr && a->bar == b->bar) {", WRONG),
    M(REPLAY, "for (std::size_t k = from; k < engine_.finalMarks(series); ++k) {", "for (std::size_t k = from + 1; k < engine_.finalMarks(series); ++k) {", CONST),
    M(REPLAY, "b->retained ? EventKind::Closed : EventKind::Dropped", "b->retained ? EventKind::Dropped : EventKind::Closed", MIRROR),
    M(REPLAY, "if (same && was->end != is->end)", "if (same && was->start != is->end)", WRONG),
    M(REPLAY, "before.underWay->start == b->pivot.start", "before.underWay->end == b->pivot.start", WRONG),
    M(REPLAY, "setMarkState(out, engine, engine.marks(series)[final - 1]);",
      "setMarkState(out, engine, engine.marks(series).back());", WRONG),
    M(REPLAY, "row.closeVsLastPivot = closeAgainst(close, pivots.back());", "row.closeVsLastPivot = closeAgainst(close, pivots.front());", WRONG),
    M("src/faces/replay_columns.cpp", "orNaN(e.from >= 0, e.from)", "orNaN(e.from > 0, e.from)", STRICT),
    M("src/faces/replay_columns.cpp", "    *o++ = orNaN(m.bar >= 0, m.price);", "    *o++ = orNaN(m.bar > 0, m.price);", STRICT),
    M(REPLAY, "replay.push(high[i], low[i], close.empty() ? kNaN : close[i]);",
      "replay.push(high[i], low[i], close.empty() || i + 1 == close.size() ? kNaN : close[i + 1]);", WRONG),
    # Resampling.
    M(CIVIL, "return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;", "return (a % b != 0 && (a < 0) != (b < 0)) ? q : q;", CONST),
    M(RESAMPLE, "return std::max(2 * interval, interval + 15 * kMinute);", "return std::min(2 * interval, interval + 15 * kMinute);", MIRROR),
    M(RESAMPLE, "interval + 15 * kMinute);", "interval + 16 * kMinute);", CONST),
    M(RESAMPLE, "    if (n <= 60) return 60 % n == 0;", "    if (n < 60) return 60 % n == 0;", STRICT,
      equivalent="60 passes the whole-hours rule as well"),
    M(RESAMPLE, "return n % 60 == 0 && (24 * 60) % n == 0;", "return n % 60 == 0;", DROPPED),
    M(RESAMPLE, "if (first_ || t - previous_ > gap_) {", "if (first_ || t - previous_ >= gap_) {", STRICT),
    M(RESAMPLE, "bin.end = sessionFirst_ + (bin.minor + 1) * width_;", "bin.end = sessionFirst_ + bin.minor * width_;", CONST),
    M(RESAMPLE, "bin.minor = TimeOfDay(t) / width_;", "bin.minor = (TimeOfDay(t) - 1) / width_;", CONST),
    M(RESAMPLE, "bin.major = FloorDiv(DayOf(t) + 3, 7); break;", "bin.major = FloorDiv(DayOf(t) + 4, 7); break;", CONST),
    M(RESAMPLE, "out.high.back() = base.high[i] > out.high.back()", "out.high.back() = base.high[i] < out.high.back()", MIRROR),
    M(RESAMPLE, "out.low.back() = base.low[i] < out.low.back()", "out.low.back() = base.low[i] > out.low.back()", MIRROR),
    M(RESAMPLE, "    if (!base.close.empty()) out.close.back() = base.close[i];\n", "\n", DROPPED),
    M(RESAMPLE, "    out.time.back() = base.time[i];\n", "\n", DROPPED),
    M(RESAMPLE, "    out.lastBase.back() = bar;\n}", "}", DROPPED),
    M(RESAMPLE, "std::max(usualClose_, TimeOfDay(before))", "std::min(usualClose_, TimeOfDay(before))", MIRROR),
    M(RESAMPLE, "return earlier_ && TimeOfDay(last) >= usualClose_;", "return earlier_ && TimeOfDay(last) > usualClose_;", STRICT),
    M(RESAMPLE, "if (interval >= kDay) return true;", "if (interval > kDay) return true;", STRICT),
    M(RESAMPLE, "return interval == 0 || last + interval < current.end;", "return interval == 0 || last + interval <= current.end;", STRICT),
    M(RESAMPLE, "const std::int64_t sunday = current.major * 7 + 3;", "const std::int64_t sunday = current.major * 7 + 4;", CONST),
    M(RESAMPLE, "if (isoWeekday(d) <= 5) return false;", "if (isoWeekday(d) < 5) return false;", STRICT),
    M(RESAMPLE, "DaysFromCivil(y, m + 1, 1)) - 1;", "DaysFromCivil(y, m + 1, 1));", CONST),
    M(RESAMPLE, "interval <= static_cast<Seconds>(period.minutes) * kMinute;", "interval < static_cast<Seconds>(period.minutes) * kMinute;", STRICT),
    M(RESAMPLE, "if (base.time[i] <= base.time[i - 1]) outOfOrder(i);", "if (base.time[i] < base.time[i - 1]) outOfOrder(i);", STRICT),
    M(RESAMPLE, "        if (i > 0) days.step(base.time[i - 1], base.time[i]);\n", "\n", DROPPED),
    M(RESAMPLE, "if (s.interval == 0 || t - before < s.interval) {", "if (s.interval == 0 || t - before <= s.interval) {", STRICT,
      equivalent="an equal gap leaves the interval, the session gap and the bins as they were"),
    M(RESAMPLE, "binAgain = (s.coarse && !coarse) || (s.binsFollowGap && gap != s.gap);", "binAgain = (s.coarse && !coarse);", DROPPED),
    M(RESAMPLE, "o.sessionGap <= 0),", "o.sessionGap < 0),", STRICT),
    M(RESAMPLE, "unchanged = s.bars.size() - 1;", "unchanged = s.bars.size();", CONST),
    # Links between levels.
    M(LINKS, "basesOf(level, k == 0 ? 0 : ends[k - 1].bar, ends[k].bar)", "basesOf(level, k == 0 ? 0 : ends[k].bar, ends[k].bar)", WRONG),
    M(LINKS, "[](const BaseRange& r, std::int32_t b) { return r.first < b; });", "[](const BaseRange& r, std::int32_t b) { return r.first <= b; });", STRICT),
    M(LINKS_H, "return first <= r.first && r.last <= last; }", "return first < r.first && r.last <= last; }", STRICT),
    M(LINKS_H, "return first <= r.first && r.last <= last; }", "return first <= r.first && r.last < last; }", STRICT),
    M(LINKS, "const auto it = std::upper_bound(firstBase.begin()", "const auto it = std::lower_bound(firstBase.begin()", WRONG),
    M(LINKS, "                made = b;\n                break;", "                made = b;", DROPPED),
    M(LINKS, "it->bar == lowerBar && it->direction == end.direction) {", "it->bar == lowerBar) {", DROPPED),
    M(LINKS, "if (lower.points[static_cast<std::size_t>(k)].side == point.side)", "if (lower.points[static_cast<std::size_t>(k)].side != point.side)", MIRROR),
    M(LINKS, "if (it != higher.strokes.end() && it->bar == point.bar) {", "if (it != higher.strokes.end()) {", DROPPED),
    # Replay across levels.
    M(L_REPLAY, "if (unchanged < track.pushed) {", "if (unchanged <= track.pushed) {", STRICT),
    M(L_REPLAY, "        while (track.pushed < finished) {", "        while (track.pushed <= finished) {", STRICT),
    M(L_REPLAY, "row.point.point.bar <= track.finalPointsThrough;", "row.point.point.bar < track.finalPointsThrough;", STRICT),
    M(L_REPLAY, "            startOver(track);\n            rows_[k] = LevelAsOf{};", "            rows_[k] = LevelAsOf{};", DROPPED,
      equivalent="a level is too coarse only before its first close pair of bars, while its track holds nothing final"),
    # The bar-file reader: dates.
    M(B_DATES_H, "|| year % 400 == 0;", ";", DROPPED),
    M(B_DATES_H, "return month == 2 && leap ? 29 : kDays[month - 1];", "return month == 3 && leap ? 29 : kDays[month - 1];", WRONG),
    M(B_DATES, "end - at > 2) return false;", "end - at > 3) return false;", CONST),
    M(B_DATES, "if (h > 23 || m > 59 || s > 59) return false;", "if (h > 24 || m > 59 || s > 59) return false;", CONST),
    M(B_FIXED_DATE, "d.day > daysInMonth(d.year, d.month) || d.hour > 23 ||", "d.day >= daysInMonth(d.year, d.month) || d.hour > 23 ||", STRICT),
    M(B_FIXED_DATE, "        d.minute > 59 || d.second > 59) {", "        d.minute > 59 || d.second > 60) {", CONST),
    M(B_DATES, "if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month)) {",
      "if (d.year < 0 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month)) {", CONST),
    M(B_FIXED_DATE, "(second & kSpace) == bytesOf(' ', kSpace) || (second & kSpace) == bytesOf('T', kSpace)",
      "(second & kSpace) == bytesOf(' ', kSpace)", DROPPED),
    M(B_FIXED_DATE, "d.hour = static_cast<int>((timePairs >> 24) & 0xFF);", "d.hour = static_cast<int>((timePairs >> 16) & 0xFF);", CONST),
    M(B_DATES, "if (separator != '-' && separator != '/' && separator != '.') return std::nullopt;",
      "if (separator != '-' && separator != '/') return std::nullopt;", DROPPED),
    M(B_DATES, "        digits(day, 6, 2, d.day);", "        digits(day, 5, 2, d.day);", CONST),
    M(B_DATE_STAMP, "d.hasTime = (bits_ & 2) != 0;", "d.hasTime = (bits_ & 1) != 0;", WRONG),
    M(B_READER, "|| full->day != date->day) {", ") {", DROPPED),
    # The bar-file reader: numbers and rows.
    M(B_NUMBER, "if (first == std::string_view::npos || first == 0 || first > 3) return false;",
      "if (first == std::string_view::npos || first == 0 || first > 4) return false;", CONST),
    M(B_NUMBER, "        if (value == 0.0f) value = 0.0f;  // no negative zero from an underflow\n", "\n", DROPPED),
    M(B_SHORT, "if (digits > 0 && ++significant > 7) return false;", "if (digits > 0 && ++significant > 8) return false;", CONST,
      equivalent=EIGHT_DIGITS),
    M(B_SHORT_H, "if (digits >= 10000000) return false;", "if (digits >= 100000000) return false;", CONST,
      equivalent=EIGHT_DIGITS),
    M(B_SHORT_H, "kInverseTens[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5,", "kInverseTens[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-6,", CONST),
    M(B_READER, "if (role != Column::Ignored && column(role) < 0) {", "if (role != Column::Ignored) {", DROPPED),
    M(B_PLAIN_ROW, "    if (lowAboveHigh(values.price[1], values.price[2])) return false;\n", "\n", DROPPED),
    M(B_READER, "const Number read = parseNumber(field, v == kVolume, value);", "const Number read = parseNumber(field, v != kVolume, value);", WRONG),
    M(B_READER, "if (line != lastLine_ + 1) unusualLines_", "if (line != lastLine_ + 2) unusualLines_", CONST),
    M(B_READER, "if (after == unusualLines_.begin()) return headerLine_ + 1 + row;", "if (after == unusualLines_.begin()) return headerLine_ + row;", CONST),
    M(B_READER, "seconds = seconds || s.hasSeconds();", "seconds = seconds && s.hasSeconds();", LOGIC),
    M(B_FILE, r'start == "\xEF\xBB\xBF" ? 3 : 0;', r'start == "\xEF\xBB\xBF" ? 2 : 0;', CONST,
      equivalent="the mark cut short leaves a lone continuation byte, never UTF-8, so the file is decoded whole"),
    M(B_PLAIN_ROW, "        if (p + 1 == end && !last) return false;\n", "\n", DROPPED),
    M(B_PLAIN_ROW, "while (count > names_.size() && plainFields_[count - 1].empty()) --count;", "", DROPPED,
      equivalent="the row then takes the general path, which reads it alike"),
    # The floating-point guard.
    M(GUARD, "kDefaultMxcsr = 0x1F80;", "kDefaultMxcsr = 0x9FC0;", CONST),
    M(GUARD, "kDefaultMxcsr = 0x1F80;", "kDefaultMxcsr = 0x1FC0;", CONST),
    M(GUARD, "kDefaultMxcsr = 0x1F80;", "kDefaultMxcsr = 0x9F80;", CONST,
      equivalent="flush-to-zero alone acts only where arithmetic underflows; the nine functions compare and copy prices"),
    M(GUARD, "kDefaultMxcsr = 0x1F80;", "kDefaultMxcsr = 0x1F00;", CONST),
    M(GUARD, "kDefaultMxcsr = 0x1F80;", "kDefaultMxcsr = 0x7F80;", CONST,
      equivalent="the nine functions round nothing: they compare and copy prices and count pivots in whole numbers"),
    M(GUARD, "    _mm_setcsr(mxcsr_);\n", "\n", DROPPED),
    M(GUARD, "    mxcsr_ = _mm_getcsr();\n", "\n", DROPPED),
    M(GUARD, "    _mm_setcsr(kDefaultMxcsr);\n", "\n", DROPPED),
]


def sh(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def copy_repository(dest):
    listed = sh(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], REPO)
    if listed.returncode != 0:
        sys.exit("mutate: git ls-files failed:\n" + listed.stdout)
    for rel in filter(None, listed.stdout.split("\0")):
        src = os.path.join(REPO, rel)
        if not os.path.isfile(src):
            continue  # deleted in the working tree
        os.makedirs(os.path.dirname(os.path.join(dest, rel)), exist_ok=True)
        shutil.copy2(src, os.path.join(dest, rel))


def programs_of(judges):
    return sorted({j.split(":")[0] for j in judges})


def build(copy, judges, jobs):
    return sh(["cmake", "--build", os.path.join(copy, "build"), "--target", *programs_of(judges),
               "-j", str(jobs)], copy)


def tests_pass(copy, judges):
    for j in judges:
        program, _, only = j.partition(":")
        command = [os.path.join(copy, "build", "tests", program), "--gtest_brief=1"]
        if only:
            command.append("--gtest_filter=" + only)
        try:
            r = sh(command, copy, TEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            return False, j + " timed out"
        if r.returncode != 0:
            failed = [l.split(", where GetParam()")[0] for l in r.stdout.splitlines()
                      if l.startswith("[  FAILED  ]")]
            return False, failed[0] if failed else j + " exited " + str(r.returncode)
    return True, ""


def check_fragments(mutants):
    bad = []
    for m in mutants:
        with open(os.path.join(REPO, m.path), encoding="utf-8") as f:
            n = f.read().count(m.fragment)
        if n != 1:
            bad.append(f"{m.path}: fragment found {n} times: {m.fragment!r}")
    return bad


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-k", dest="patterns", action="append", default=[],
                    help="only mutants whose file or class contains this (repeat for several)")
    ap.add_argument("-j", dest="jobs", type=int, default=2, help="build jobs (default 2)")
    ap.add_argument("-n", dest="numbers", default="",
                    help="only these mutants, by their number in --list (e.g. 3,17,40)")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    ap.add_argument("--keep", action="store_true", help="keep the temporary copy")
    args = ap.parse_args()

    numbered = list(enumerate(MUTANTS, 1))
    if args.numbers:
        wanted = {int(n) for n in args.numbers.split(",")}
        numbered = [(n, m) for n, m in numbered if n in wanted]
    numbered = [(n, m) for n, m in numbered
                if not args.patterns or any(p in m.path or p in m.kind for p in args.patterns)]
    mutants = [m for _, m in numbered]
    if args.list:
        for n, m in numbered:
            print(f"{n:3} {m.kind:22} {m.path}: {m.fragment.strip()!r} -> {m.replacement.strip()!r}")
        return 0
    bad = check_fragments(mutants)
    if bad:
        print("\n".join(bad))
        sys.exit("mutate: stale mutants, fix the table")

    copy = tempfile.mkdtemp(prefix="vlm-mutants-")
    try:
        copy_repository(copy)
        needed = sorted({j for m in mutants for j in judge(m.path)[1]})
        tools = any(j.startswith(("barfile_tests", "analysis_tests")) for j in needed)
        configure = ["cmake", "-S", copy, "-B", os.path.join(copy, "build"), "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVLM_BUILD_BENCH=OFF",
                     "-DVLM_BUILD_TOOLS=" + ("ON" if tools else "OFF")]
        if shutil.which("ccache"):
            # Paths under the copy hash alike from one copy to the next.
            os.environ.update(CCACHE_BASEDIR=copy, CCACHE_NOHASHDIR="1")
            configure += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        r = sh(configure, copy)
        if r.returncode != 0:
            sys.exit("mutate: configure failed:\n" + r.stdout)
        r = build(copy, needed, args.jobs)
        if r.returncode != 0:
            sys.exit("mutate: the unchanged tree does not build:\n" + r.stdout[-4000:])
        ok, why = tests_pass(copy, needed)
        if not ok:
            sys.exit("mutate: the unchanged tree fails its tests: " + why)

        caught = survived = broken = equivalent = 0
        areas = {}
        for n, m in numbered:
            area, judges = judge(m.path)
            path = os.path.join(copy, m.path)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            started = time.monotonic()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(m.fragment, m.replacement))
                if build(copy, judges, args.jobs).returncode != 0:
                    outcome, why = "did-not-compile", ""
                    broken += 1
                else:
                    passed, why = tests_pass(copy, judges)
                    if not passed:
                        outcome = "caught"
                        caught += 1
                    elif m.equivalent:
                        outcome, why = "equivalent", m.equivalent
                        equivalent += 1
                    else:
                        outcome = "survived"
                        survived += 1
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            change = f"{m.fragment.strip()!r} -> {m.replacement.strip()!r}"
            print(f"{n:3} {outcome:15} {m.kind:22} {m.path}: {change}"
                  f"  ({time.monotonic() - started:.0f}s){'  ' + why if why else ''}", flush=True)
            counts = areas.setdefault(area, {})
            counts[outcome] = counts.get(outcome, 0) + 1
        for area, counts in areas.items():
            print(f"{area}: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
        print(f"equivalent, listed with their reason: {equivalent}")
        print(f"mutants: {caught} caught, {survived} survived, {broken} did not compile")
        return 1 if survived or broken else 0
    finally:
        if args.keep:
            print("copy kept in", copy)
        else:
            shutil.rmtree(copy, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
