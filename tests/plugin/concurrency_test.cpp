// Calls on different threads share nothing: all nine functions at once give
// the single-threaded results.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "support/series_gen.h"

namespace {

struct Job {
    vlm::testing::Bars bars;
    std::vector<float> signal;
    std::vector<std::vector<float>> outputs;  // one per function
};

void runAll(const FuncTableEntry* table, Job& job) {
    const auto n = static_cast<std::int32_t>(job.bars.size());
    job.signal.assign(job.bars.size(), 0.0f);
    table[1].funcPtr(n, job.signal.data(), job.bars.high.data(), job.bars.low.data(), nullptr);
    job.outputs.assign(9, std::vector<float>(job.bars.size()));
    for (int f = 0; f < 9; ++f) {
        const float* a = f < 2 ? job.bars.high.data() : job.signal.data();
        const float* b = f < 2 ? job.bars.low.data() : job.bars.high.data();
        const float* c = f < 2 ? nullptr : job.bars.low.data();
        table[f].funcPtr(n, job.outputs[static_cast<std::size_t>(f)].data(), a, b, c);
    }
}

TEST(Concurrency, NineFunctionsOnEightThreads) {
    const FuncTableEntry* table = nullptr;
    ASSERT_EQ(RegisterVlmFunc(&table), 1);
    constexpr int kThreads = 8;
    constexpr int kRounds = 4;
    // Each thread keeps calling for a few seconds, whatever the build's speed.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::vector<Job> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        expected[t].bars = vlm::testing::makeBars(vlm::testing::kAllShapes[t % 6], 4000,
                                                  static_cast<std::uint32_t>(t + 1));
        runAll(table, expected[t]);
    }
    std::vector<std::vector<Job>> results(kThreads, std::vector<Job>(kRounds));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds || std::chrono::steady_clock::now() < until; ++r) {
                Job& job = results[t][static_cast<std::size_t>(r % kRounds)];
                job.bars = expected[t].bars;
                runAll(table, job);
                if (r >= kRounds) {
                    // Later rounds are checked at once; the first ones below.
                    for (std::size_t f = 0; f < 9; ++f) {
                        if (!vlm::testing::sameBits(job.outputs[f], expected[t].outputs[f])) mismatches++;
                    }
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        for (int r = 0; r < kRounds; ++r) {
            EXPECT_TRUE(vlm::testing::sameBits(results[t][r].signal, expected[t].signal));
            for (std::size_t f = 0; f < 9; ++f) {
                EXPECT_TRUE(vlm::testing::sameBits(results[t][r].outputs[f], expected[t].outputs[f]))
                    << "thread " << t << " round " << r << " function " << f + 1;
            }
        }
    }
}

}  // namespace
