#include "chart_columns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlmstruct::chart {
namespace {

TEST(ChartColumns, Base64OfTheStandardVectors) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {std::string("\xff\x00\x80", 3), "/wCA"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(base64(bytes), text) << text;
}

// The form each kind of column takes: the smallest decimal scale that gives
// every float back, else raw floats.
TEST(ChartColumns, EachColumnTakesTheSmallestScaleOrRawFloats) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::vector<float> values;
        std::string form;
    } cases[] = {
        {{1, 2, 3}, "\"dec\":0"},
        {{25.18f, 24.95f, nan, -3.5f}, "\"dec\":2"},
        {{123456.78f}, "\"dec\":2"},  // 123456.78125, read back from two decimals
        {{1e-10f}, "\"f32\""},  // no eight decimals give it back
        {{1, std::numeric_limits<float>::infinity()}, "\"f32\""},
        {{3e30f}, "\"f32\""},  // beyond what the page reads exactly as an integer
    };
    for (const auto& c : cases) {
        const std::string column = numberColumn(c.values);
        EXPECT_NE(column.find(c.form), std::string::npos) << column;
        EXPECT_NE(column.find("\"n\":" + std::to_string(c.values.size())), std::string::npos) << column;
    }
}

TEST(ChartColumns, IntegersBeyondWhatThePageReadsAreRefused) {
    const std::vector<std::int64_t> fine{0, std::int64_t{1} << 50, -(std::int64_t{1} << 50)};
    EXPECT_NO_THROW(integerColumn(fine));
    const std::vector<std::int64_t> large{(std::int64_t{1} << 50) + 1};
    EXPECT_THROW(integerColumn(large), std::out_of_range);
}

TEST(ChartColumns, DatesOfOneFormAsSecondsElseAsText) {
    EXPECT_EQ(dateColumn({}), "null");
    const std::string daily = dateColumn({"2024-01-02", "2024-01-03", "2024-01-05"});
    EXPECT_NE(daily.find("\"unit\":86400,\"form\":10"), std::string::npos) << daily;
    const std::string minutes = dateColumn({"2024-01-02 09:31", "2024-01-02 09:32"});
    EXPECT_NE(minutes.find("\"unit\":60,\"form\":16"), std::string::npos) << minutes;
    const std::string mixed = dateColumn({"2024-01-02", "2024-01-03 10:00"});
    EXPECT_EQ(mixed, "{\"text\":[\"2024-01-02\",\"2024-01-03 10:00\"]}");
}

}  // namespace
}  // namespace vlmstruct::chart
