// Writes the host harness's cases with the outputs of the core's routines,
// called plainly under the default floating-point setting: the bits every
// build of the plug-in must give, under whatever setting its caller has.
#include <cmath>
#include <cstdio>
#include <limits>

#include "support/caller_fp.h"
#include "support/series_gen.h"
#include "windows/host_vectors.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_host_vectors OUTPUT\n");
        return 2;
    }
#if defined(VLM_TEST_X86)
    vlm::testing::loadMxcsr(vlm::testing::kCallerFloatingPoint[0].mxcsr);  // the default
#endif
    std::vector<vlm::testing::HostCase> cases;
    std::uint32_t seed = 1;
    struct Series {
        vlm::testing::Shape shape;
        bool subnormal;  // every price subnormal: flush-to-zero would read zeros
    };
    std::vector<Series> series;
    for (vlm::testing::Shape shape : vlm::testing::kAllShapes) series.push_back({shape, false});
    series.push_back({vlm::testing::Shape::QuantisedWalk, true});
    for (const Series& s : series) {
        for (bool arbitrarySignal : {false, true}) {
            vlm::testing::Bars bars = vlm::testing::makeBars(s.shape, 2500, seed);
            vlm::testing::HostCase c;
            if (s.shape == vlm::testing::Shape::WithNaN) {
                // Signalling NaNs with payloads: an x87 load would quieten them.
                const float signalling = std::numeric_limits<float>::signaling_NaN();
                for (std::size_t i = 7; i < bars.size(); i += 97) bars.high[i] = signalling;
                for (std::size_t i = 11; i < bars.size(); i += 89) bars.low[i] = -signalling;
            }
            if (s.subnormal) {
                vlm::testing::scaleToSubnormal(bars.high);
                vlm::testing::scaleToSubnormal(bars.low);
            }
            if (s.subnormal || s.shape == vlm::testing::Shape::ZeroAndNegative) {
                vlm::testing::addSpecialValues(bars.high, bars.low);
            }
            c.high = bars.high;
            c.low = bars.low;
            c.signal = arbitrarySignal ? vlm::testing::makeArbitrarySignal(bars.size(), seed)
                                       : vlm::testing::runFunction(2, {}, c.high, c.low);
            for (int f = 0; f < 9; ++f) c.outputs[f] = vlm::testing::runFunction(f + 1, c.signal, c.high, c.low);
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
