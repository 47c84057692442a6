// testVelmorDll: the export and the registration table of the nine functions.

#include "plugin/vlm_plugin.h"

#include <cstddef>
#include <span>

#include "functions/series_functions.h"
#include "plugin/plugin_entry.h"

static_assert(sizeof(FuncTableEntry) == sizeof(std::uint16_t) + sizeof(void*),
              "the host reads the table rows packed");

namespace vlm::plugin {

// Functions 1 and 2 read the highs and lows; 3 to 9 the stroke signal first.
template <>
struct HostOrder<SeriesFunction> {
    static constexpr bool readsC(const SeriesFunction& f) { return f.inputs == InputLayout::SignalHighLow; }
    static void run(const SeriesFunction& f, const HostInputs& in, std::span<float> out) {
        if (readsC(f)) {
            f.run({in.a, in.b, in.c}, out);
        } else {
            f.run({{}, in.a, in.b}, out);
        }
    }
};

}  // namespace vlm::plugin

namespace {

constexpr const auto& funcTable = vlm::plugin::kFuncTable<vlm::kSeriesFunctions>;

static_assert(std::size(funcTable) == vlm::kSeriesFunctions.size() + 1,
              "one row per numbered function, then the terminator");

}  // namespace

extern "C" VLM_EXPORT std::int32_t VLM_CALL RegisterVlmFunc(const FuncTableEntry** ppTable) {
    return vlm::plugin::RegisterTable(ppTable, funcTable.data());
}
