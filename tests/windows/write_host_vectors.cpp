// Writes the host harness's cases with the outputs of the Linux plug-in.
#include <cmath>
#include <cstdio>
#include <limits>

#include "plugin/vlm_plugin.h"
#include "support/caller_fp.h"
#include "support/series_gen.h"
#include "windows/host_vectors.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_host_vectors OUTPUT\n");
        return 2;
    }
    const FuncTableEntry* table = nullptr;
    if (RegisterVlmFunc(&table) != 1) return 1;
    std::vector<vlm::testing::HostCase> cases;
    std::uint32_t seed = 1;
    for (vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        for (bool arbitrarySignal : {false, true}) {
            vlm::testing::Bars bars = vlm::testing::makeBars(shape, 2500, seed);
            vlm::testing::HostCase c;
            if (shape == vlm::testing::Shape::WithNaN) {
                // Signalling NaNs with payloads: an x87 load would quieten them.
                const float signalling = std::numeric_limits<float>::signaling_NaN();
                for (std::size_t i = 7; i < bars.size(); i += 97) bars.high[i] = signalling;
                for (std::size_t i = 11; i < bars.size(); i += 89) bars.low[i] = -signalling;
            }
            if (shape == vlm::testing::Shape::ZeroAndNegative) {
                vlm::testing::addSpecialValues(bars.high, bars.low);
            }
            c.high = bars.high;
            c.low = bars.low;
            const auto n = static_cast<std::int32_t>(bars.size());
            c.signal.resize(bars.size());
            if (arbitrarySignal) {
                c.signal = vlm::testing::makeArbitrarySignal(bars.size(), seed);
            } else {
                table[1].funcPtr(n, c.signal.data(), c.high.data(), c.low.data(), nullptr);
            }
            for (int f = 0; f < 9; ++f) {
                c.outputs[f].assign(bars.size(), 0.0f);
                if (f < 2) {
                    table[f].funcPtr(n, c.outputs[f].data(), c.high.data(), c.low.data(), nullptr);
                } else {
                    table[f].funcPtr(n, c.outputs[f].data(), c.signal.data(), c.high.data(), c.low.data());
                }
            }
            cases.push_back(std::move(c));
            ++seed;
        }
    }
    if (!vlm::testing::writeHostVectors(argv[1], cases)) {
        std::fprintf(stderr, "write_host_vectors: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
