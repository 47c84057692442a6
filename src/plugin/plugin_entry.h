#pragma once
// What every plug-in shares: the entry pattern of its numbered functions and
// the registration table built from its list of functions. A plug-in names
// its list and how a row of it reads the host's inputs (HostOrder); adding a
// function is adding a row to the list.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "plugin/host_fp_guard.h"
#include "plugin/vlm_plugin.h"

namespace vlm::plugin {

// The input series of one call, in the order the host passes them.
struct HostInputs {
    std::span<const float> a;
    std::span<const float> b;
    std::span<const float> c;  // empty unless the function reads inC
};

// For a list's row type Row, a specialisation gives
//   static constexpr bool readsC(const Row&): whether the function reads inC;
//   static void run(const Row&, const HostInputs&, std::span<float> out):
//     the whole result computed before any value of `out` is written.
template <class Row>
struct HostOrder;

// One pattern for every numbered function: refuse what cannot be read or
// written, compute privately under our own floating-point settings, write
// outSeries only once the result is whole. Nothing escapes into the host: on
// any failure outSeries is left as it was, and the host's floating-point
// state comes back as it was handed in.
template <const auto& Functions, std::size_t Row>
void VLM_CALL CalcFunc(std::int32_t count, float* outSeries, const float* inA, const float* inB,
                       const float* inC) noexcept {
    constexpr const auto& function = Functions[Row];
    using Order = HostOrder<std::remove_cvref_t<decltype(function)>>;
    constexpr bool readsC = Order::readsC(function);
    if (count < 0 || outSeries == nullptr || inA == nullptr || inB == nullptr ||
        (readsC && inC == nullptr)) {
        return;
    }
    const auto bars = static_cast<std::size_t>(count);
    HostInputs inputs{{inA, bars}, {inB, bars}, {}};
    if constexpr (readsC) inputs.c = {inC, bars};
    const HostFloatingPointGuard floatingPoint;
    try {
        Order::run(function, inputs, std::span<float>(outSeries, bars));
    } catch (...) {
        // The host has no way to hear of a failure; the output keeps its values.
    }
}

template <const auto& Functions, std::size_t... Rows>
constexpr auto MakeFuncTable(std::index_sequence<Rows...>) {
    return std::array<FuncTableEntry, sizeof...(Rows) + 1>{
        {{Functions[Rows].number, &CalcFunc<Functions, Rows>}..., {0, nullptr}}};
}

// A row per function of the list, in its order, then the terminator {0, null}.
template <const auto& Functions>
inline constexpr auto kFuncTable = MakeFuncTable<Functions>(std::make_index_sequence<Functions.size()>());

// What RegisterVlmFunc does: hands out the table to a null pointer only.
inline std::int32_t RegisterTable(const FuncTableEntry** ppTable, const FuncTableEntry* table) noexcept {
    if (ppTable == nullptr || *ppTable != nullptr) {
        return 0;
    }
    *ppTable = table;
    return 1;
}

}  // namespace vlm::plugin
