// Calls of the companion on different threads share nothing: its seven
// functions at once, on eight threads, give the single-threaded results.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "support/series_gen.h"

namespace {

std::vector<std::vector<float>> runAll(const FuncTableEntry* table, const vlm::testing::Bars& bars,
                                       const std::vector<float>& close) {
    std::vector<std::vector<float>> outputs(7, std::vector<float>(bars.size()));
    for (std::size_t f = 0; f < outputs.size(); ++f) {
        table[f].funcPtr(static_cast<std::int32_t>(bars.size()), outputs[f].data(), bars.high.data(),
                         bars.low.data(), close.data());
    }
    return outputs;
}

TEST(Concurrency, SevenFunctionsOnEightThreads) {
    const FuncTableEntry* table = nullptr;
    ASSERT_EQ(RegisterVlmFunc(&table), 1);
    constexpr int kThreads = 8;
    constexpr int kRounds = 3;
    std::vector<vlm::testing::Bars> bars;
    std::vector<std::vector<float>> closes;
    std::vector<std::vector<std::vector<float>>> expected;
    for (int t = 0; t < kThreads; ++t) {
        bars.push_back(vlm::testing::makeBars(vlm::testing::kAllShapes[t % 6], 3000, static_cast<std::uint32_t>(t + 1)));
        closes.push_back(bars.back().low);
        expected.push_back(runAll(table, bars.back(), closes.back()));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                const auto outputs = runAll(table, bars[t], closes[t]);
                for (std::size_t f = 0; f < outputs.size(); ++f) {
                    if (!vlm::testing::sameBits(outputs[f], expected[t][f])) mismatches++;
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
