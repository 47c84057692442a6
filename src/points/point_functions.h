#pragma once
// The companion plug-in's seven numbered functions, listed once: what a host
// formula can read of the trading points and of the replay, one value per
// bar, with the default options (MACD 12, 26, 9, force `area`, first-class
// run 2, divergence ratio 1.0).
//
// Functions 1 and 7 are the points `analyze` shows at the last bar: like the
// nine structure functions, their values change as later bars arrive.
// Functions 2 to 6 are computed bar by bar, the value at bar t from bars 0..t
// only, so a later bar never changes an earlier value.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vlm {

// The host passes the highs, the lows and the closes; `close` is empty for
// the functions that do not read it. A close that is not a finite number
// leaves the MACD as it was, as everywhere the points are computed.
struct PointInputs {
    std::span<const float> high;
    std::span<const float> low;
    std::span<const float> close;
};

// Every function computes its whole result before it writes any value of
// `out` (so `out` may be one of the inputs, and a failure leaves it
// untouched), then writes all `out.size()` values. Throws std::length_error
// for more bars than a 32-bit index holds, std::invalid_argument for an input
// shorter than `out`.
using PointRoutine = void (*)(const PointInputs& in, std::span<float> out);

struct PointFunction {
    std::uint16_t number;
    std::string_view name;
    bool readsClose;
    PointRoutine run;
};

// 1: at the bar of each trading point, its signed classes code
// (SignedClassesCode: 23 for B2+B3, -1 for S1); 0 elsewhere.
void RunPointCodes(const PointInputs& in, std::span<float> out);
// 2: at bar t, the signed code of the classes that bar t newly showed as the
// replay shows them (NewlyShown); 0 where it showed none.
void RunLivePoints(const PointInputs& in, std::span<float> out);
// 3, 4: the direction of the last final stroke end (segment end) as of bar t,
// the replay's stroke_final_dir (segment_final_dir): 1 top, -1 bottom, 0 none.
void RunStrokeFinalDirection(const PointInputs& in, std::span<float> out);
void RunSegmentFinalDirection(const PointInputs& in, std::span<float> out);
// 5, 6: the bounds of the latest listed pivot as of bar t, the replay's
// pivot_upper and pivot_lower; 0 while none is listed.
void RunAsOfPivotUpper(const PointInputs& in, std::span<float> out);
void RunAsOfPivotLower(const PointInputs& in, std::span<float> out);
// 7: at the bar of each point of function 1 that is of the first class, its
// force ratio (leaving over entering force) as a float; 0 elsewhere.
void RunForceRatios(const PointInputs& in, std::span<float> out);

inline constexpr std::array<PointFunction, 7> kPointFunctions{{
    {1, "point_code", true, &RunPointCodes},
    {2, "live_point", true, &RunLivePoints},
    {3, "stroke_final_dir", false, &RunStrokeFinalDirection},
    {4, "segment_final_dir", false, &RunSegmentFinalDirection},
    {5, "pivot_upper_as_of", false, &RunAsOfPivotUpper},
    {6, "pivot_lower_as_of", false, &RunAsOfPivotLower},
    {7, "force_ratio", true, &RunForceRatios},
}};

}  // namespace vlm
