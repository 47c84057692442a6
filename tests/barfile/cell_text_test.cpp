#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "barfile/cell_text.h"
#include "barfile/float_text.h"
#include "faces/replay_columns.h"

namespace vlmstruct {
namespace {

using vlm::Column;
using vlm::ColumnKind;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What a cell has always read: empty for NaN, a bar or code as an integer, a
// price as the float it is.
std::string cellsText(const std::vector<double>& values, const std::vector<Column>& columns) {
    std::string out;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        out += ',';
        if (std::isnan(values[k])) continue;
        out += columns[k].kind == ColumnKind::Price ? formatFloat(static_cast<float>(values[k]))
                                                    : std::to_string(static_cast<long long>(values[k]));
    }
    return out;
}

struct Change {
    std::size_t row, column;
    double value;  // kept from this row on
};

// Rows whose cells change at known rows, written with the kept texts, read
// as every row formatted in full: a group must be formatted again on every
// kind of change, and only its own cells.
TEST(CachedCells, EveryChangeIsWritten) {
    const std::vector<Column> columns = {{"bar", ColumnKind::Whole},    {"close", ColumnKind::Price},
                                         {"dir", ColumnKind::Code},   {"at", ColumnKind::Whole},
                                         {"price", ColumnKind::Price}, {"upper", ColumnKind::Price},
                                         {"lower", ColumnKind::Price}, {"code", ColumnKind::Code}};
    const std::vector<double> first = {0, 12.5, 1, 0, 12.75, kNaN, kNaN, kNaN};
    const double otherNaN = -std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<Change> changes;
    } cases[] = {
        {"nothing changes", {}},
        {"first cell of a group", {{3, 2, -1}, {9, 2, 1}}},
        {"last cell of a group", {{2, 4, 12.5}, {3, 4, 13.0}}},
        {"last column alone", {{4, 7, -1}, {5, 7, kNaN}, {6, 7, 0}}},
        {"empty to a value and back", {{2, 5, 13.25}, {2, 6, 12.0}, {7, 5, kNaN}, {7, 6, kNaN}}},
        {"back to the text before", {{1, 4, 99.5}, {2, 4, 12.75}, {3, 4, 99.5}}},
        {"price 0 and -0", {{1, 1, 0.0}, {2, 1, -0.0}, {3, 1, 0.0}}},
        {"code 0 and -0", {{1, 2, 0.0}, {2, 2, -0.0}}},
        {"another NaN", {{2, 5, otherNaN}, {3, 5, kNaN}}},
        {"widest numbers", {{1, 3, 2147483647}, {2, 4, 3.4028235e38}, {3, 4, 1e-40}, {4, 0, -2147483648.0}}},
        {"every group at one row", {{5, 0, 5}, {5, 1, 1}, {5, 2, -1}, {5, 3, 4}, {5, 4, 2}, {5, 5, 3}, {5, 6, 1},
                                    {5, 7, 1}}},
        {"every row", {{1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {1, 1, 12.51}, {2, 1, 12.52}, {3, 1, 12.53}}},
    };
    const std::vector<std::vector<std::size_t>> groupings = {{1, 1, 3, 2, 1}, {8}, {1, 1, 1, 1, 1, 1, 1, 1},
                                                             {2, 0, 6}};
    for (const auto& c : cases) {
        for (const auto& groups : groupings) {
            CachedCells cells(columns, groups);
            std::string written, expected;
            {
                TextSink sink(written);
                std::vector<double> values = first;
                for (std::size_t row = 0; row < 12; ++row) {
                    for (const Change& change : c.changes) {
                        if (change.row == row) values[change.column] = change.value;
                    }
                    cells.put(sink, values);
                    sink.put('\n');
                    expected += cellsText(values, columns) + '\n';
                }
                sink.flush();
            }
            EXPECT_EQ(written, expected) << c.name << ", " << groups.size() << " groups";
        }
    }
}

// Many rows: the kept texts stay right while the sink hands its text on and grows.
TEST(CachedCells, LongRunsAsInFull) {
    const std::vector<Column> columns = {{"bar", ColumnKind::Whole}, {"price", ColumnKind::Price},
                                         {"dir", ColumnKind::Code}, {"upper", ColumnKind::Price}};
    CachedCells cells(columns, std::vector<std::size_t>{1, 2, 1});
    std::string written, expected;
    {
        TextSink sink(written);
        for (int row = 0; row < 200000; ++row) {
            const std::vector<double> values = {static_cast<double>(row), 100.0 + (row / 7) * 0.01,
                                                row % 13 < 6 ? 1.0 : -1.0, row % 5 == 0 ? kNaN : 101.25};
            cells.put(sink, values);
            expected += cellsText(values, columns);
            sink.written();
        }
        sink.flush();
    }
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

std::string toCharsText(float v) {
    char buffer[64];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr};
}

// The memo gives to_chars's text for every float, whether it is kept, was
// replaced by another with the same slot, or is never kept (NaN of either sign).
TEST(FloatMemo, SameTextAsToChars) {
    std::vector<float> prices;
    for (int k = 0; k < 3000; ++k) prices.push_back(95.0f + static_cast<float>(k) * 0.01f);
    // Neighbouring floats differ in their last bits only, and share slots.
    for (float v = 100.0f; prices.size() < 6000; v = std::nextafter(v, 200.0f)) prices.push_back(v);
    std::mt19937 random(11);
    std::vector<float> values;
    for (int k = 0; k < 300000; ++k) {
        switch (random() % 8) {
            case 0: values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random()))); break;
            case 1: values.push_back(values.empty() ? 1.0f : values.back()); break;
            default: values.push_back(prices[random() % prices.size()]);
        }
    }
    for (const float v : {0.0f, -0.0f, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::max(), 0.0f}) {
        values.push_back(v);
        values.push_back(v);
    }
    FloatMemo memo;
    std::size_t wrong = 0;
    for (const float v : values) {
        char buffer[kFloatTextSize];
        const std::string text(buffer, memo.write(buffer, v));
        if (text != toCharsText(v) && ++wrong < 5) ADD_FAILURE() << toCharsText(v) << " written as " << text;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(CachedCells, GroupsMustCoverTheColumns) {
    const std::vector<Column> columns = {{"bar", ColumnKind::Whole}, {"price", ColumnKind::Price}};
    for (const std::vector<std::size_t>& groups :
         {std::vector<std::size_t>{1}, std::vector<std::size_t>{1, 2}, std::vector<std::size_t>{}}) {
        EXPECT_THROW(CachedCells(columns, groups), std::invalid_argument);
    }
    EXPECT_NO_THROW(CachedCells(columns, std::vector<std::size_t>{2}));
}

}  // namespace
}  // namespace vlmstruct
