// The export, the registration table and the nine entry functions.

#include "plugin/vlm_plugin.h"

#include <cstddef>
#include <span>

#include "functions/series_functions.h"
#include "plugin/host_fp_guard.h"

static_assert(sizeof(FuncTableEntry) == sizeof(std::uint16_t) + sizeof(void*),
              "the host reads the table rows packed");

namespace {

// One pattern for every numbered function: refuse what cannot be read or
// written, compute privately under our own floating-point settings, write
// outSeries only once the result is whole. Nothing escapes into the host: on
// any failure outSeries is left as it was, and the host's floating-point
// state comes back as it was handed in.
template <std::size_t Row>
void VLM_CALL CalcFunc(std::int32_t count, float* outSeries, const float* inA, const float* inB,
                       const float* inC) noexcept {
    constexpr const vlm::SeriesFunction& function = vlm::kSeriesFunctions[Row];
    constexpr bool readsSignal = function.inputs == vlm::InputLayout::SignalHighLow;
    if (count < 0 || outSeries == nullptr || inA == nullptr || inB == nullptr ||
        (readsSignal && inC == nullptr)) {
        return;
    }
    const auto bars = static_cast<std::size_t>(count);
    vlm::SeriesInputs inputs;
    if constexpr (readsSignal) {
        inputs = {{inA, bars}, {inB, bars}, {inC, bars}};
    } else {
        inputs = {{}, {inA, bars}, {inB, bars}};
    }
    const vlm::HostFloatingPointGuard floatingPoint;
    try {
        function.run(inputs, std::span<float>(outSeries, bars));
    } catch (...) {
        // The host has no way to hear of a failure; the output keeps its values.
    }
}

constexpr PluginCalcFunc CalcFunc1 = &CalcFunc<0>;
constexpr PluginCalcFunc CalcFunc2 = &CalcFunc<1>;
constexpr PluginCalcFunc CalcFunc3 = &CalcFunc<2>;
constexpr PluginCalcFunc CalcFunc4 = &CalcFunc<3>;
constexpr PluginCalcFunc CalcFunc5 = &CalcFunc<4>;
constexpr PluginCalcFunc CalcFunc6 = &CalcFunc<5>;
constexpr PluginCalcFunc CalcFunc7 = &CalcFunc<6>;
constexpr PluginCalcFunc CalcFunc8 = &CalcFunc<7>;
constexpr PluginCalcFunc CalcFunc9 = &CalcFunc<8>;

constexpr FuncTableEntry funcTable[] = {
    {vlm::kSeriesFunctions[0].number, CalcFunc1},
    {vlm::kSeriesFunctions[1].number, CalcFunc2},
    {vlm::kSeriesFunctions[2].number, CalcFunc3},
    {vlm::kSeriesFunctions[3].number, CalcFunc4},
    {vlm::kSeriesFunctions[4].number, CalcFunc5},
    {vlm::kSeriesFunctions[5].number, CalcFunc6},
    {vlm::kSeriesFunctions[6].number, CalcFunc7},
    {vlm::kSeriesFunctions[7].number, CalcFunc8},
    {vlm::kSeriesFunctions[8].number, CalcFunc9},
    {0, nullptr},
};

static_assert(std::size(funcTable) == vlm::kSeriesFunctions.size() + 1,
              "one row per numbered function, then the terminator");

}  // namespace

extern "C" VLM_EXPORT std::int32_t VLM_CALL RegisterVlmFunc(const FuncTableEntry** ppTable) {
    if (ppTable == nullptr || *ppTable != nullptr) {
        return 0;
    }
    *ppTable = funcTable;
    return 1;
}
