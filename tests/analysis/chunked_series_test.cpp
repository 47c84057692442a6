#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "analysis/chunked_series.h"
#include "support/series_gen.h"

namespace vlm {
namespace {

using testing::kAllShapes;
using testing::makeBars;
using testing::runFunction;
using testing::sameBits;
using testing::shapeName;

// The nine at once give, bit for bit, what a host calling them one by one
// gets, whatever the series: the shared merging and pivot list change nothing.
TEST(AllSeriesFunctions, SameAsEachCalledInTurn) {
    for (const testing::Shape shape : kAllShapes) {
        for (const std::size_t n : {0u, 1u, 2u, 3u, 7u, 60u, 700u, 4096u, 4097u, 5000u, 20000u}) {
            for (const std::uint32_t seed : {1u, 2u, 3u}) {
                const testing::Bars bars = makeBars(shape, n, seed);
                std::array<std::vector<float>, 9> all;
                std::size_t asked = 0;
                RunAllSeriesFunctions(bars.high, bars.low, [&](std::size_t f) {
                    EXPECT_EQ(f, asked++);  // in order, each once
                    all[f].assign(n, 777.0f);  // every value must be written
                    return std::span<float>(all[f]);
                });
                EXPECT_EQ(asked, 9u);
                const std::vector<float> signal = runFunction(2, {}, bars.high, bars.low);
                for (int number = 1; number <= 9; ++number) {
                    EXPECT_TRUE(sameBits(all[static_cast<std::size_t>(number - 1)],
                                         runFunction(number, signal, bars.high, bars.low)))
                        << shapeName(shape) << " n=" << n << " seed=" << seed << " function " << number;
                }
            }
        }
    }
}

TEST(AllSeriesFunctions, RefusesAnOutputOfAnotherLength) {
    const testing::Bars bars = makeBars(testing::Shape::QuantisedWalk, 40, 1);
    for (const std::size_t length : {39u, 41u}) {
        std::array<std::vector<float>, 9> all;
        const auto output = [&](std::size_t f) {
            all[f].assign(f == 6 ? length : 40, 0.0f);
            return std::span<float>(all[f]);
        };
        EXPECT_THROW(RunAllSeriesFunctions(bars.high, bars.low, output), std::invalid_argument) << length;
    }
}

}  // namespace
}  // namespace vlm
