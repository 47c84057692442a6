// Memory running out inside a call: the call returns normally, the output
// keeps its previous values bit for bit, and nothing leaks (the sanitizer
// build checks leaks).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "support/failing_allocations.h"
#include "support/series_gen.h"

namespace {

TEST(AllocationFailure, EveryFailingCallLeavesTheOutputUntouched) {
    const FuncTableEntry* table = nullptr;
    ASSERT_EQ(RegisterVlmFunc(&table), 1);
    const vlm::testing::Bars bars = vlm::testing::makeBars(vlm::testing::Shape::QuantisedWalk, 300, 9);
    const auto n = static_cast<std::int32_t>(bars.size());
    std::vector<float> signal(bars.size());
    table[1].funcPtr(n, signal.data(), bars.high.data(), bars.low.data(), nullptr);
    for (int f = 0; f < 9; ++f) {
        const float* a = f < 2 ? bars.high.data() : signal.data();
        const float* b = f < 2 ? bars.low.data() : bars.high.data();
        const float* c = f < 2 ? nullptr : bars.low.data();
        std::vector<float> expected(bars.size());
        table[f].funcPtr(n, expected.data(), a, b, c);
        int failures = 0;
        for (long k = 0;; ++k) {
            std::vector<float> out(bars.size(), -7.5f);
            const std::vector<float> before = out;
            injectedFailure.store(false);
            allocationsUntilFailure.store(k);
            table[f].funcPtr(n, out.data(), a, b, c);
            allocationsUntilFailure.store(-1);
            const bool failed = injectedFailure.load();
            if (!failed) {
                EXPECT_TRUE(vlm::testing::sameBits(out, expected)) << "function " << f + 1;
                break;
            }
            ++failures;
            ASSERT_TRUE(vlm::testing::sameBits(out, before))
                << "function " << f + 1 << " failing at allocation " << k + 1;
        }
        EXPECT_GT(failures, 0) << "function " << f + 1 << " never allocated";
    }
}

}  // namespace
