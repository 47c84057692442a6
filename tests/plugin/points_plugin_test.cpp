// The companion plug-in as the host sees it: through RegisterVlmFunc and the
// table only. What each function computes is held against the tool's
// outputs in points_vs_tool_test.cpp; here, the surface and the promises of
// every call: refusals, aliasing, the caller's floating-point state, memory
// running out, and that functions 2 to 6 never repaint.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "kline/bar_count.h"
#include "plugin/vlm_plugin.h"
#include "points/point_functions.h"
#include "support/caller_fp.h"
#include "support/plugin_surface.h"
#include "support/failing_allocations.h"
#include "support/series_gen.h"

namespace {

using vlm::testing::Bars;
using vlm::testing::sameBits;
using vlm::testing::Shape;

constexpr int kFunctions = 7;

// Functions 1, 2 and 7 read the closes; 3 to 6 ignore inC.
bool readsClose(int number) { return number == 1 || number == 2 || number == 7; }

const FuncTableEntry* table() {
    const FuncTableEntry* t = nullptr;
    EXPECT_EQ(RegisterVlmFunc(&t), 1);
    return t;
}

PluginCalcFunc function(int number) { return table()[number - 1].funcPtr; }

struct Series {
    std::vector<float> high, low, close;
};

// Closes at the high or the low: not a number only where that price is not.
Series seriesOf(const Bars& bars) {
    Series s{bars.high, bars.low, std::vector<float>(bars.size())};
    for (std::size_t i = 0; i < bars.size(); ++i) s.close[i] = i % 3 == 0 ? bars.high[i] : bars.low[i];
    return s;
}

Series makeSeries(Shape shape, std::size_t n, std::uint32_t seed) {
    return seriesOf(vlm::testing::makeBars(shape, n, seed));
}

std::vector<float> call(int number, const Series& s, float fill = 42.0f) {
    std::vector<float> out(s.high.size(), fill);
    function(number)(static_cast<std::int32_t>(out.size()), out.data(), s.high.data(), s.low.data(),
                     s.close.data());
    return out;
}

TEST(Registration, HandsOutTheTableOnlyToANullPointer) { vlm::testing::ExpectRegistration(); }

TEST(Registration, SevenPackedRowsNumberedInOrderThenTheTerminator) {
    vlm::testing::ExpectPackedRows(table(), kFunctions);
}

class EveryFunction : public ::testing::TestWithParam<int> {};

TEST_P(EveryFunction, RefusesWhatItCannotReadOrWrite) {
    const int n = GetParam();
    const Series s = makeSeries(Shape::QuantisedWalk, 300, 4);
    const float* h = s.high.data();
    const float* l = s.low.data();
    const float* c = s.close.data();
    std::vector<float> out(300, 7.0f);
    const std::vector<float> untouched = out;
    const PluginCalcFunc f = function(n);
    f(-1, out.data(), h, l, c);
    f(std::numeric_limits<std::int32_t>::min(), out.data(), h, l, c);
    f(300, out.data(), nullptr, l, c);
    f(300, out.data(), h, nullptr, c);
    if (readsClose(n)) f(300, out.data(), h, l, nullptr);
    f(0, out.data(), h, l, c);
    EXPECT_EQ(out, untouched);
    f(300, nullptr, h, l, c);  // must simply return
    if (!readsClose(n)) {
        f(300, out.data(), h, l, nullptr);
        EXPECT_TRUE(sameBits(out, call(n, s))) << "inC is not read";
    }
}

TEST_P(EveryFunction, OutputMayBeAnyInput) {
    const int n = GetParam();
    const Series s = makeSeries(Shape::QuantisedWalk, 1500, 5);
    const std::vector<float> expected = call(n, s);
    for (int which = 0; which < (readsClose(n) ? 3 : 2); ++which) {
        Series aliased = s;
        std::vector<float>& shared = which == 0 ? aliased.high : which == 1 ? aliased.low : aliased.close;
        function(n)(static_cast<std::int32_t>(shared.size()), shared.data(), aliased.high.data(),
                    aliased.low.data(), aliased.close.data());
        EXPECT_TRUE(sameBits(shared, expected)) << "output is input " << which;
    }
}

TEST_P(EveryFunction, WritesEveryBar) {
    const int n = GetParam();
    for (const Shape shape : vlm::testing::kAllShapes) {
        const std::vector<float> out = call(n, makeSeries(shape, 400, 3));
        for (float v : out) ASSERT_NE(v, 42.0f) << vlm::testing::shapeName(shape);
    }
}

#if defined(VLM_TEST_X86)
// Under each caller setting: the bits of the library's routine called plainly
// under the default setting, no trap (an unmasked exception would end the
// test), and the caller's MXCSR handed back exactly, its status flags
// included. One series is subnormal throughout, so a guard that computed with
// flush-to-zero or denormals-are-zero would give other bits.
TEST_P(EveryFunction, LeavesTheCallersFloatingPointAlone) {
    using vlm::testing::loadMxcsr;
    using vlm::testing::readMxcsr;
    const int n = GetParam();
    const std::uint32_t host = readMxcsr();
    for (const Shape shape : {Shape::WithNaN, Shape::QuantisedWalk, Shape::ZeroAndNegative}) {
        for (const bool subnormal : {false, true}) {
            Bars bars = vlm::testing::makeBars(shape, 2000, 17);
            if (subnormal) {
                vlm::testing::scaleToSubnormal(bars.high);
                vlm::testing::scaleToSubnormal(bars.low);
            }
            vlm::testing::addSpecialValues(bars.high, bars.low);
            const Series s = seriesOf(bars);
            std::vector<float> expected(s.high.size());
            loadMxcsr(vlm::testing::kCallerFloatingPoint[0].mxcsr);  // the default
            vlm::kPointFunctions[static_cast<std::size_t>(n - 1)].run({s.high, s.low, s.close}, expected);
            loadMxcsr(host);
            const std::string where = std::string(vlm::testing::shapeName(shape)) + (subnormal ? ", subnormal" : "");
            vlm::testing::ExpectUnderEveryCallerSetting(function(n), s.high.data(), s.low.data(), s.close.data(), expected, where);
        }
    }
}
#endif

// Memory running out inside a call: the call returns normally, the output
// keeps its previous values bit for bit, and nothing leaks (the sanitizer
// build checks leaks).
TEST_P(EveryFunction, FailingAllocationLeavesTheOutputUntouched) {
    const int n = GetParam();
    const Series s = makeSeries(Shape::QuantisedWalk, 300, 9);
    const std::vector<float> expected = call(n, s);
    int failures = 0;
    for (long k = 0;; ++k) {
        std::vector<float> out(s.high.size(), -7.5f);
        const std::vector<float> before = out;
        injectedFailure.store(false);
        allocationsUntilFailure.store(k);
        function(n)(static_cast<std::int32_t>(out.size()), out.data(), s.high.data(), s.low.data(),
                    s.close.data());
        allocationsUntilFailure.store(-1);
        if (!injectedFailure.load()) {
            EXPECT_TRUE(sameBits(out, expected));
            break;
        }
        ++failures;
        ASSERT_TRUE(sameBits(out, before)) << "failing at allocation " << k + 1;
    }
    EXPECT_GT(failures, 0) << "never allocated";
}

INSTANTIATE_TEST_SUITE_P(Functions, EveryFunction, ::testing::Range(1, kFunctions + 1));

// Functions 2 to 6 at bar t depend on bars 0..t only: the values over bars
// 0..t are the same, bit for bit, when the bars after t are other bars or
// none at all.
class NeverRepaints : public ::testing::TestWithParam<int> {};

TEST_P(NeverRepaints, ValuesUpToABarIgnoreTheBarsAfterIt) {
    const int n = GetParam();
    constexpr std::size_t kBars = 2000;
    for (const Shape shape : {Shape::QuantisedWalk, Shape::TinyValueSet, Shape::WithNaN, Shape::ZeroAndNegative,
                              Shape::PendingGrowing}) {
        const Series s = makeSeries(shape, kBars, 21);
        const Series other = makeSeries(Shape::QuantisedWalk, kBars, 22);
        const std::vector<float> whole = call(n, s);
        int nonZero = 0;
        for (float v : whole) nonZero += v != 0.0f;
        if (shape == Shape::QuantisedWalk) {
            EXPECT_GT(nonZero, 0) << "nothing to repaint";
        }
        for (std::size_t t = 0; t < kBars; t += t < 40 ? 1 : 61) {
            Series replaced = s;
            Series cut = s;
            for (auto* v : {&cut.high, &cut.low, &cut.close}) v->resize(t + 1);
            for (std::size_t i = t + 1; i < kBars; ++i) {
                replaced.high[i] = other.high[i];
                replaced.low[i] = other.low[i];
                replaced.close[i] = other.close[i];
            }
            const std::span<const float> upToT = std::span<const float>(whole).first(t + 1);
            EXPECT_TRUE(sameBits(std::span<const float>(call(n, replaced)).first(t + 1), upToT))
                << vlm::testing::shapeName(shape) << ", bars after " << t << " replaced";
            EXPECT_TRUE(sameBits(call(n, cut), upToT)) << vlm::testing::shapeName(shape) << ", cut after " << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Functions, NeverRepaints, ::testing::Range(2, 7));

// A series longer than a 32-bit bar index reaches is refused before any
// value is read. The host's count cannot say so many (a longer one arrives
// negative, refused above); the routines behind the table refuse it too.
TEST(SeriesLength, MoreBarsThanAnIndexHoldsAreRefused) {
    const std::size_t bars = vlm::kMaxBars + 1;
    const std::size_t bytes = bars * sizeof(float);
    // Address space only: no page is ever touched.
    void* pages = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const std::span<const float> in(static_cast<const float*>(pages), bars);
    const std::span<float> out(static_cast<float*>(pages), bars);
    for (const vlm::PointFunction& f : vlm::kPointFunctions) {
        EXPECT_THROW(f.run({in, in, in}, out), std::length_error) << "function " << f.number;
    }
    munmap(pages, bytes);
}

}  // namespace
