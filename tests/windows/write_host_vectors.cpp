// Writes the host harness's cases with the outputs of a Linux plug-in:
//   write_host_vectors testVelmorDll|testVelmorPoints LIBRARY OUTPUT [SAMPLES_DIR]
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "support/caller_fp.h"
#include "support/plugin_library.h"
#include "support/series_gen.h"
#include "windows/host_vectors.h"

#if defined(VLM_WITH_BAR_FILES)
#include "barfile/bar_file.h"
#endif

namespace {

using vlm::testing::HostCase;
using vlm::testing::HostVectors;
using vlm::testing::kNoSeries;

// Signalling NaNs with payloads: an x87 load would quieten them.
void addSignallingNaNs(vlm::testing::Bars& bars) {
    const float signalling = std::numeric_limits<float>::signaling_NaN();
    for (std::size_t i = 7; i < bars.size(); i += 97) bars.high[i] = signalling;
    for (std::size_t i = 11; i < bars.size(); i += 89) bars.low[i] = -signalling;
}

// testVelmorDll: series {signal, high, low}; 1 and 2 take the highs and
// lows, 3 to 9 the signal first. Each shape with function 2's signal and
// with an arbitrary one.
HostVectors nineCases(const vlm::testing::PluginLibrary& plugin) {
    HostVectors v{"testVelmorDll", {}, {}};
    for (int f = 1; f <= 9; ++f) {
        v.inputs.push_back(f <= 2 ? std::array<std::uint8_t, 3>{1, 2, kNoSeries} : std::array<std::uint8_t, 3>{0, 1, 2});
    }
    struct Series {
        vlm::testing::Shape shape;
        bool subnormal;  // every price subnormal: flush-to-zero would read zeros
    };
    std::vector<Series> series;
    for (vlm::testing::Shape shape : vlm::testing::kAllShapes) series.push_back({shape, false});
    series.push_back({vlm::testing::Shape::QuantisedWalk, true});
    std::uint32_t seed = 1;
    for (const Series& s : series) {
        for (bool arbitrarySignal : {false, true}) {
            vlm::testing::Bars bars = vlm::testing::makeBars(s.shape, 2500, seed);
            if (s.shape == vlm::testing::Shape::WithNaN) addSignallingNaNs(bars);
            if (s.subnormal) {
                vlm::testing::scaleToSubnormal(bars.high);
                vlm::testing::scaleToSubnormal(bars.low);
            }
            if (s.subnormal || s.shape == vlm::testing::Shape::ZeroAndNegative) {
                vlm::testing::addSpecialValues(bars.high, bars.low);
            }
            const std::vector<float> signal = arbitrarySignal ? vlm::testing::makeArbitrarySignal(bars.size(), seed)
                                                              : plugin.call(2, bars.high, bars.low);
            HostCase c{{signal, bars.high, bars.low}, {}};
            // The core's routines called plainly: the bits every build must
            // give whatever floating-point setting its caller has, so a guard
            // that computed under another setting cannot set its own answer.
            for (int f = 1; f <= 9; ++f) c.outputs.push_back(vlm::testing::runFunction(f, signal, bars.high, bars.low));
            v.cases.push_back(std::move(c));
            ++seed;
        }
    }
    return v;
}

// testVelmorPoints: series {high, low, close}; every function takes the
// highs and lows, 1, 2 and 7 the closes too. The samples, and each shape
// plain and with special prices; closes at the high or the low, and in one
// case closes that are not numbers where the prices are.
HostVectors pointCases(const char* samples) {
    HostVectors v{"testVelmorPoints", {}, {}};
    for (int f = 1; f <= 7; ++f) {
        const bool close = f == 1 || f == 2 || f == 7;
        v.inputs.push_back({0, 1, close ? std::uint8_t{2} : kNoSeries});
    }
#if defined(VLM_WITH_BAR_FILES)
    for (const char* file : {"synthetic_daily_bars.csv", "synthetic_intraday_bars.csv"}) {
        if (samples == nullptr) break;
        const vlmstruct::BarSeries bars = vlmstruct::readBarFile(std::string(samples) + "/" + file);
        v.cases.push_back({{bars.high, bars.low, bars.close}, {}});
    }
#else
    (void)samples;
#endif
    std::uint32_t seed = 40;
    for (vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        for (bool special : {false, true}) {
            vlm::testing::Bars bars = vlm::testing::makeBars(shape, 2500, seed++);
            if (special) {
                addSignallingNaNs(bars);
                vlm::testing::addSpecialValues(bars.high, bars.low);
            }
            std::vector<float> close(bars.size());
            for (std::size_t i = 0; i < close.size(); ++i) close[i] = i % 3 == 0 ? bars.high[i] : bars.low[i];
            if (special && shape == vlm::testing::Shape::QuantisedWalk) {
                for (std::size_t i = 3; i < close.size(); i += 53) close[i] = std::numeric_limits<float>::quiet_NaN();
            }
            v.cases.push_back({{bars.high, bars.low, close}, {}});
        }
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: write_host_vectors testVelmorDll|testVelmorPoints LIBRARY OUTPUT [SAMPLES_DIR]\n");
        return 2;
    }
    const std::string kind = argv[1];
    if (kind != "testVelmorDll" && kind != "testVelmorPoints") {
        std::fprintf(stderr, "write_host_vectors: no plug-in called %s\n", argv[1]);
        return 2;
    }
    const vlm::testing::PluginLibrary plugin(argv[2]);
    HostVectors v = kind == "testVelmorDll" ? nineCases(plugin) : pointCases(argc == 5 ? argv[4] : nullptr);
#if defined(VLM_TEST_X86)
    vlm::testing::loadMxcsr(vlm::testing::kCallerFloatingPoint[0].mxcsr);  // the default setting
#endif
    for (HostCase& c : v.cases) {
        for (std::size_t f = c.outputs.size(); f < v.inputs.size(); ++f) {
            const auto n = c.series[0].size();
            std::vector<float> out(n, 0.0f);
            const auto [a, b, third] = v.arguments(f, c);
            plugin.function(static_cast<int>(f + 1))(static_cast<std::int32_t>(n), out.data(), a, b, third);
            c.outputs.push_back(std::move(out));
        }
    }
    if (!vlm::testing::writeHostVectors(argv[3], v)) {
        std::fprintf(stderr, "write_host_vectors: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
