#pragma once
// Floating-point settings a host may call us under. The plug-in must give the
// same bits under each and hand each back unchanged.

#include <cstdint>
#include <limits>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <xmmintrin.h>
#define VLM_TEST_X86 1
#endif

namespace vlm::testing {

struct CallerFloatingPoint {
    const char* name;
    std::uint32_t mxcsr;
    std::uint16_t x87Control;  // read by 32-bit callers only
};

// MXCSR: masks in bits 7-12, rounding in 13-14, flush-to-zero 15,
// denormals-are-zero 6, status flags 0-5. x87: masks in bits 0-5, rounding
// in 10-11.
inline constexpr CallerFloatingPoint kCallerFloatingPoint[] = {
    {"default", 0x1F80, 0x027F},
    {"all exceptions unmasked", 0x0000, 0x0240},
    {"invalid operation unmasked", 0x1F00, 0x027E},
    {"flush-to-zero and denormals-are-zero", 0x9FC0, 0x027F},
    {"round toward zero", 0x7F80, 0x0E7F},
    {"round up", 0x5F80, 0x0A7F},
    {"status flags already raised", 0x1FBF, 0x027F},
};

// Prices that raise flags or depend on the modes: NaN (quiet and
// signalling), infinities, subnormals and negative zero, sprinkled over a
// series at fixed strides.
inline void addSpecialValues(std::vector<float>& high, std::vector<float>& low) {
    using limits = std::numeric_limits<float>;
    const float special[] = {limits::quiet_NaN(), limits::infinity(),  -limits::infinity(),
                             limits::denorm_min(), 1.0e-39f,          -1.0e-39f,
                             -0.0f,                limits::signaling_NaN(), limits::min()};
    std::size_t k = 0;
    for (std::size_t i = 5; i < high.size(); i += 37) high[i] = special[k++ % std::size(special)];
    for (std::size_t i = 9; i < low.size(); i += 41) low[i] = special[k++ % std::size(special)];
}

// Moves prices of about 1 to 1000 into the subnormal range, where
// flush-to-zero and denormals-are-zero would read them all as zero: a
// computation that let either mode through gives other bits.
inline void scaleToSubnormal(std::vector<float>& prices) {
    for (float& p : prices) p *= 1.0e-41f;
}

#if defined(VLM_TEST_X86)
inline std::uint32_t readMxcsr() { return _mm_getcsr(); }
inline void loadMxcsr(std::uint32_t value) { _mm_setcsr(value); }
#endif

#if defined(__i386__)
inline std::uint16_t readX87Control() {
    std::uint16_t control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    return control;
}
inline std::uint16_t readX87Status() {
    std::uint16_t status = 0;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    return status;
}
// Clears pending flags first, so an unmasked control word cannot trap here.
inline void loadX87Control(std::uint16_t control) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(control) : "memory");
}
#endif

}  // namespace vlm::testing
