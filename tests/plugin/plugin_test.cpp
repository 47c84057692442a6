// The plug-in as the host sees it: through RegisterVlmFunc and the table only.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "kline/kxian_signal.h"
#include "pivot/pivot_list.h"
#include "pivot/pivot_outputs.h"
#include "plugin/vlm_plugin.h"
#include "segment/segment_signal.h"
#include "stroke/bi_signal.h"
#include "support/caller_fp.h"
#include "support/plugin_surface.h"
#include "support/series_gen.h"

namespace {

using vlm::testing::Bars;

const FuncTableEntry* table() {
    const FuncTableEntry* t = nullptr;
    EXPECT_EQ(RegisterVlmFunc(&t), 1);
    return t;
}

PluginCalcFunc function(int number) { return table()[number - 1].funcPtr; }

TEST(Registration, HandsOutTheTableOnlyToANullPointer) { vlm::testing::ExpectRegistration(); }

TEST(Registration, RowsArePackedAndNumberedInOrder) { vlm::testing::ExpectPackedRows(table(), 9); }

// Inputs in the host's order for function n: highs, lows for 1 and 2;
// stroke signal, highs, lows for the rest.
struct HostCall {
    std::vector<float> a, b, c;
};

HostCall inputsFor(int number, const Bars& bars) {
    if (number <= 2) return {bars.high, bars.low, {}};
    std::vector<float> signal(bars.size());
    function(2)(static_cast<std::int32_t>(bars.size()), signal.data(), bars.high.data(),
                bars.low.data(), nullptr);
    return {signal, bars.high, bars.low};
}

std::vector<float> call(int number, HostCall in) {
    std::vector<float> out(in.a.size(), 42.0f);
    function(number)(static_cast<std::int32_t>(in.a.size()), out.data(), in.a.data(), in.b.data(),
                     in.c.empty() ? nullptr : in.c.data());
    return out;
}

class EveryFunction : public ::testing::TestWithParam<int> {};

// The routine each row names, called directly, as the rules' tests call it.
std::vector<float> namedRoutine(int number, const HostCall& in) {
    using namespace vlm;
    switch (number) {
        case 1: return CalcKxianSignal(in.a, in.b);
        case 2: return CalcBiSignal(in.a, in.b);
        case 3: return CalcSegmentSignal(in.a, in.b, in.c);
        case 4: return CalcSegmentSignalNoPullback(in.a, in.b, in.c);
        default: break;
    }
    constexpr PivotOutput kWhat[] = {PivotOutput::Upper, PivotOutput::Lower, PivotOutput::EndMarks,
                                     PivotOutput::Trend, PivotOutput::RunCount};
    std::vector<float> out(in.a.size(), 42.0f);
    WritePivotOutput(CalcPivotList(in.a, in.b, in.c), kWhat[number - 5], out);
    return out;
}

TEST_P(EveryFunction, IsTheNamedRoutine) {
    const int n = GetParam();
    for (vlm::testing::Shape shape : vlm::testing::kAllShapes) {
        const Bars bars = vlm::testing::makeBars(shape, 3000, 11);
        const HostCall in = inputsFor(n, bars);
        EXPECT_TRUE(vlm::testing::sameBits(call(n, in), namedRoutine(n, in)));
    }
}

TEST_P(EveryFunction, OutputMayBeAnyInput) {
    const int n = GetParam();
    const Bars bars = vlm::testing::makeBars(vlm::testing::Shape::QuantisedWalk, 1500, 5);
    const HostCall in = inputsFor(n, bars);
    const std::vector<float> expected = call(n, in);
    for (int which = 0; which < (n <= 2 ? 2 : 3); ++which) {
        HostCall aliased = in;
        std::vector<float>& shared = which == 0 ? aliased.a : which == 1 ? aliased.b : aliased.c;
        function(n)(static_cast<std::int32_t>(shared.size()), shared.data(), aliased.a.data(),
                    aliased.b.data(), aliased.c.empty() ? nullptr : aliased.c.data());
        EXPECT_TRUE(vlm::testing::sameBits(shared, expected)) << "output is input " << which;
    }
}

TEST_P(EveryFunction, RefusesWhatItCannotReadOrWrite) {
    const int n = GetParam();
    std::vector<float> a = {1, -1, 1, -1, 1, -1}, b = {5, 4, 6, 3, 7, 2}, c = {4, 3, 5, 2, 6, 1};
    std::vector<float> out(6, 7.0f);
    const std::vector<float> untouched = out;
    PluginCalcFunc f = function(n);
    f(-1, out.data(), a.data(), b.data(), c.data());
    f(std::numeric_limits<std::int32_t>::min(), out.data(), a.data(), b.data(), c.data());
    f(6, out.data(), nullptr, b.data(), c.data());
    f(6, out.data(), a.data(), nullptr, c.data());
    if (n >= 3) f(6, out.data(), a.data(), b.data(), nullptr);
    f(0, out.data(), a.data(), b.data(), c.data());
    EXPECT_EQ(out, untouched);
    f(6, nullptr, a.data(), b.data(), c.data());  // must simply return
}

TEST_P(EveryFunction, WritesEveryBar) {
    const int n = GetParam();
    const Bars bars = vlm::testing::makeBars(vlm::testing::Shape::TinyValueSet, 200, 3);
    const std::vector<float> out = call(n, inputsFor(n, bars));
    for (float v : out) EXPECT_NE(v, 42.0f);
}

#if defined(VLM_TEST_X86)
// Under each caller setting: the bits of the core's routine called plainly
// under the default setting, no trap (an unmasked exception would kill the
// test), and the caller's MXCSR handed back exactly, its status flags
// included. The prices hold NaN, infinities and subnormals, and one series
// is subnormal throughout, so a guard that computed with flush-to-zero or
// denormals-are-zero would give other bits.
TEST_P(EveryFunction, LeavesTheCallersFloatingPointAlone) {
    using vlm::testing::loadMxcsr;
    using vlm::testing::readMxcsr;
    const int n = GetParam();
    const std::uint32_t host = readMxcsr();
    for (vlm::testing::Shape shape : {vlm::testing::Shape::WithNaN, vlm::testing::Shape::QuantisedWalk,
                                      vlm::testing::Shape::ZeroAndNegative}) {
        for (const bool subnormal : {false, true}) {
            Bars bars = vlm::testing::makeBars(shape, 2000, 17);
            loadMxcsr(vlm::testing::kCallerFloatingPoint[0].mxcsr);  // the default
            if (subnormal) {
                vlm::testing::scaleToSubnormal(bars.high);
                vlm::testing::scaleToSubnormal(bars.low);
            }
            vlm::testing::addSpecialValues(bars.high, bars.low);
            const HostCall in = n <= 2 ? HostCall{bars.high, bars.low, {}}
                                       : HostCall{namedRoutine(2, {bars.high, bars.low, {}}), bars.high, bars.low};
            const std::vector<float> expected = namedRoutine(n, in);
            loadMxcsr(host);
            const std::string where = std::string(vlm::testing::shapeName(shape)) + (subnormal ? ", subnormal" : "");
            vlm::testing::ExpectUnderEveryCallerSetting(function(n), in.a.data(), in.b.data(),
                                                        in.c.empty() ? nullptr : in.c.data(), expected, where);
        }
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Functions, EveryFunction, ::testing::Range(1, 10));

// Python and the tools hand the routines spans of any length: one that does
// not cover every bar is refused, not read past its end.
TEST(Routines, RefuseSeriesShorterThanTheBars) {
    const std::vector<float> five = {1, -1, 1, -1, 1}, three = {3, 2, 3};
    EXPECT_THROW(vlm::CalcKxianSignal(five, three), std::invalid_argument);
    EXPECT_THROW(vlm::CalcBiSignal(five, three), std::invalid_argument);
    EXPECT_THROW(vlm::CalcSegmentSignal(five, three, five), std::invalid_argument);
    EXPECT_THROW(vlm::CalcSegmentSignalNoPullback(five, five, three), std::invalid_argument);
    EXPECT_THROW(vlm::CalcPivotList(five, three, five), std::invalid_argument);
    EXPECT_NO_THROW(vlm::CalcPivotList(five, five, five));
}

TEST(FirstTwoFunctions, NeverReadTheThirdInput) {
    std::vector<float> high = {10, 9, 8, 7, 6}, low = {9, 8, 7, 6, 5}, out(5);
    function(1)(5, out.data(), high.data(), low.data(), nullptr);
    EXPECT_EQ(out, (std::vector<float>{1, 0, 0, 0, -1}));
    function(2)(5, out.data(), high.data(), low.data(), nullptr);
    EXPECT_EQ(out, (std::vector<float>{1, 0, 0, 0, -1}));
}

}  // namespace
