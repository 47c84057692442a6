#pragma once
// Prices drawn from fuzz input: mostly small sets and near values, so that
// structures form and ties are common; sometimes any bit pattern.

#include <cstdint>
#include <cstring>

namespace vlm::fuzzing {

inline float priceFrom(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t style) {
    const auto take = [&]() -> std::uint8_t { return p < end ? *p++ : 0; };
    switch (style % 3) {
        case 0: return static_cast<float>(take() % 8);
        case 1: return 100.0f + static_cast<float>(static_cast<std::int8_t>(take())) / 8.0f;
        default: {
            std::uint32_t bits = 0;
            for (int k = 0; k < 4; ++k) bits = bits << 8 | take();
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        }
    }
}

}  // namespace vlm::fuzzing
