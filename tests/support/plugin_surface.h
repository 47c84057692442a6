#pragma once
// What every plug-in promises the host's loader, checked the same way for
// each: the table handed out only to a null pointer, its rows packed and
// numbered 1, 2, ... in order, then the terminator.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "support/caller_fp.h"
#include "support/series_gen.h"

namespace vlm::testing {

inline void ExpectRegistration() {
    const FuncTableEntry* t = nullptr;
    EXPECT_EQ(RegisterVlmFunc(&t), 1);
    ASSERT_NE(t, nullptr);
    const FuncTableEntry* kept = t;
    EXPECT_EQ(RegisterVlmFunc(&t), 0);
    EXPECT_EQ(t, kept);
    const FuncTableEntry* again = nullptr;
    EXPECT_EQ(RegisterVlmFunc(&again), 1);
    EXPECT_EQ(again, kept);
    EXPECT_EQ(RegisterVlmFunc(nullptr), 0);
}

// Read as the host reads it: bytes at a stride of 6 (32-bit) or 10 (64-bit).
inline void ExpectPackedRows(const FuncTableEntry* table, std::size_t functions) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(table);
    const std::size_t stride = 2 + sizeof(void*);
    for (std::size_t row = 0; row <= functions; ++row) {
        std::uint16_t number = 0;
        void* pointer = nullptr;
        std::memcpy(&number, bytes + row * stride, 2);
        std::memcpy(&pointer, bytes + row * stride + 2, sizeof pointer);
        EXPECT_EQ(number, row < functions ? row + 1 : 0) << "row " << row;
        EXPECT_EQ(pointer == nullptr, row == functions) << "row " << row;
    }
}

#if defined(VLM_TEST_X86)
// One call of `f` under each caller setting: no trap (an unmasked exception
// would end the test), the bits of `expected`, and the caller's MXCSR handed
// back exactly, its status flags included.
inline void ExpectUnderEveryCallerSetting(PluginCalcFunc f, const float* a, const float* b, const float* c,
                                          const std::vector<float>& expected, const std::string& where) {
    const std::uint32_t host = readMxcsr();
    for (const CallerFloatingPoint& env : kCallerFloatingPoint) {
        std::vector<float> out(expected.size(), 42.0f);
        loadMxcsr(env.mxcsr);
        f(static_cast<std::int32_t>(out.size()), out.data(), a, b, c);
        const std::uint32_t after = readMxcsr();
        loadMxcsr(host);
        EXPECT_EQ(after, env.mxcsr) << env.name << ", " << where;
        EXPECT_TRUE(sameBits(out, expected)) << env.name << ", " << where;
    }
}
#endif

}  // namespace vlm::testing
