#pragma once
// The nine numbered functions, listed once. The plug-in's registration table,
// the command-line tool and the Python module are all built from this list.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vlm {

enum class InputLayout {
    HighLow,        // bar highs, bar lows
    SignalHighLow,  // stroke signal, bar highs, bar lows
};

// Inputs of one call; `signal` is empty for the functions that do not read it.
struct SeriesInputs {
    std::span<const float> signal;
    std::span<const float> high;
    std::span<const float> low;
};

// Every function computes its whole result from the inputs before it writes
// any value of `out` (so `out` may be one of the inputs, and a failed
// allocation leaves it untouched), then writes all `out.size()` values.
using SeriesRoutine = void (*)(const SeriesInputs& in, std::span<float> out);

struct SeriesFunction {
    std::uint16_t number;
    std::string_view name;  // column name used by the tools
    InputLayout inputs;
    SeriesRoutine run;
};

void RunTurningPoints(const SeriesInputs& in, std::span<float> out);
void RunStrokes(const SeriesInputs& in, std::span<float> out);
void RunSegments(const SeriesInputs& in, std::span<float> out);
void RunSegmentsNoPullback(const SeriesInputs& in, std::span<float> out);
void RunPivotUpper(const SeriesInputs& in, std::span<float> out);
void RunPivotLower(const SeriesInputs& in, std::span<float> out);
void RunPivotEndMarks(const SeriesInputs& in, std::span<float> out);
void RunPivotTrend(const SeriesInputs& in, std::span<float> out);
void RunPivotRunCount(const SeriesInputs& in, std::span<float> out);

inline constexpr std::array<SeriesFunction, 9> kSeriesFunctions{{
    {1, "turning_point", InputLayout::HighLow, &RunTurningPoints},
    {2, "stroke", InputLayout::HighLow, &RunStrokes},
    {3, "segment", InputLayout::SignalHighLow, &RunSegments},
    {4, "segment_no_pullback", InputLayout::SignalHighLow, &RunSegmentsNoPullback},
    {5, "pivot_upper", InputLayout::SignalHighLow, &RunPivotUpper},
    {6, "pivot_lower", InputLayout::SignalHighLow, &RunPivotLower},
    {7, "pivot_end_marks", InputLayout::SignalHighLow, &RunPivotEndMarks},
    {8, "pivot_trend", InputLayout::SignalHighLow, &RunPivotTrend},
    {9, "pivot_run_count", InputLayout::SignalHighLow, &RunPivotRunCount},
}};

}  // namespace vlm
