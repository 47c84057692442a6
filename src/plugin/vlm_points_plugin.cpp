// testVelmorPoints, the companion plug-in: the export and the registration
// table of the trading points and the replay's as-of values.

#include <cstddef>
#include <span>

#include "plugin/plugin_entry.h"
#include "plugin/vlm_plugin.h"
#include "points/point_functions.h"

namespace vlm::plugin {

// Every function takes the highs as inA and the lows as inB; those that
// read closes take them as inC.
template <>
struct HostOrder<PointFunction> {
    static constexpr bool readsC(const PointFunction& f) { return f.readsClose; }
    static void run(const PointFunction& f, const HostInputs& in, std::span<float> out) {
        f.run({in.a, in.b, in.c}, out);
    }
};

}  // namespace vlm::plugin

namespace {

constexpr const auto& funcTable = vlm::plugin::kFuncTable<vlm::kPointFunctions>;

}  // namespace

extern "C" VLM_EXPORT std::int32_t VLM_CALL RegisterVlmFunc(const FuncTableEntry** ppTable) {
    return vlm::plugin::RegisterTable(ppTable, funcTable.data());
}
