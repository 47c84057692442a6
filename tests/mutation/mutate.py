#!/usr/bin/python3
"""One-token faults in the core, each built and run against the core and
plug-in tests. A fault the tests do not notice is a rule they do not pin.

The repository is copied to a temporary folder first (the files git knows of,
as they are in the working tree), so the working tree is never touched.

    /usr/bin/python3 tests/mutation/mutate.py            # every mutant
    /usr/bin/python3 tests/mutation/mutate.py -k pivot   # those whose file or class has "pivot"
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
TEST_BINARIES = ["tests/core_tests", "tests/plugin_tests"]
TEST_TIMEOUT = 60  # seconds per binary; a walk that never ends counts as caught


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
K_MARK = "src/kline/signal_mark.h"
S_CHULI_H = "src/stroke/bi_chuli.h"
S_CHULI = "src/stroke/bi_chuli.cpp"
S_SIGNAL = "src/stroke/bi_signal.cpp"
SEG = "src/segment/segment_signal.cpp"
P_TRACK = "src/pivot/pivot_tracker.cpp"
P_WALK = "src/pivot/pivot_walk.cpp"
P_LIST = "src/pivot/pivot_list.cpp"
P_OUT = "src/pivot/pivot_outputs.cpp"
P_OUT_H = "src/pivot/pivot_outputs.h"
FUNCS = "src/functions/series_functions.cpp"

STRICT = "comparison strictness"
MIRROR = "mirror comparison"
DROPPED = "dropped assignment"
WRONG = "wrong variable"
CONST = "constant"
LOGIC = "logic operator"

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
    M(K_SIGNAL, "if (list[k].direction != list[k + 1].direction)", "if (list[k].direction == list[k + 1].direction)", MIRROR),
    M(K_SIGNAL, "for (std::size_t k = 0; k + 1 < list.size(); ++k)", "for (std::size_t k = 0; k + 2 < list.size(); ++k)", CONST),
    M(K_SIGNAL, "            mark(out, list[k]);", "            mark(out, list[k + 1]);", WRONG),
    M(K_SIGNAL, "    mark(out, list.back());\n", "\n", DROPPED),
    M(K_SIGNAL, "if (record.extremeIndex >= 0 && bar < out.size())", "if (record.extremeIndex > 0 && bar < out.size())", STRICT),
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
    M(S_SIGNAL, "bi.kxianList.back().extremeIndex;", "bi.kxianList.back().endIndex;", WRONG),
    M(S_SIGNAL, "bi.kxianList.back().extremeIndex;", "bi.kxianList.front().extremeIndex;", WRONG),
    M(S_SIGNAL, "bi.direction == 1 ? kStrokeTop : kStrokeBottom", "bi.direction == -1 ? kStrokeTop : kStrokeBottom", MIRROR),
    M(S_SIGNAL, "if (bar >= 0 && static_cast<std::size_t>(bar) < out.size())", "if (bar > 0 && static_cast<std::size_t>(bar) < out.size())", STRICT),
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
    M(P_WALK, "points.push_back({static_cast<std::int32_t>(i), true, high[i]});",
      "points.push_back({static_cast<std::int32_t>(i), true, low[i]});", WRONG),
    M(P_WALK, "} else if (bi[i] == -1.0f) {", "} else if (bi[i] < 0.0f) {", CONST),
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


def build(copy, jobs):
    return sh(["cmake", "--build", os.path.join(copy, "build"), "--target", "core_tests",
               "plugin_tests", "-j", str(jobs)], copy)


def tests_pass(copy):
    for binary in TEST_BINARIES:
        try:
            r = sh([os.path.join(copy, "build", binary), "--gtest_brief=1"], copy, TEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            return False, binary + " timed out"
        if r.returncode != 0:
            failed = [l for l in r.stdout.splitlines() if l.startswith("[  FAILED  ]")]
            return False, failed[0] if failed else binary + " exited " + str(r.returncode)
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
    ap.add_argument("-k", dest="pattern", default="", help="only mutants whose file or class contains this")
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
    numbered = [(n, m) for n, m in numbered if args.pattern in m.path or args.pattern in m.kind]
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
        r = sh(["cmake", "-S", copy, "-B", os.path.join(copy, "build"), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVLM_BUILD_TOOLS=OFF", "-DVLM_BUILD_BENCH=OFF"], copy)
        if r.returncode != 0:
            sys.exit("mutate: configure failed:\n" + r.stdout)
        r = build(copy, args.jobs)
        if r.returncode != 0:
            sys.exit("mutate: the unchanged tree does not build:\n" + r.stdout[-4000:])
        ok, why = tests_pass(copy)
        if not ok:
            sys.exit("mutate: the unchanged tree fails its tests: " + why)

        caught = survived = broken = equivalent = 0
        for n, m in numbered:
            path = os.path.join(copy, m.path)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            started = time.monotonic()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(m.fragment, m.replacement))
                if build(copy, args.jobs).returncode != 0:
                    outcome, why = "did-not-compile", ""
                    broken += 1
                else:
                    passed, why = tests_pass(copy)
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
