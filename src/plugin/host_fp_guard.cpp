#include "plugin/host_fp_guard.h"

// Out of line on purpose: a call the compiler cannot see into is a barrier
// no floating-point operation of the computation is moved across.

#if defined(VLM_FP_X86)
#include <xmmintrin.h>
#endif

namespace vlm {

namespace {

#if defined(VLM_FP_X86)
// Every exception masked, round to nearest, flush-to-zero and
// denormals-are-zero off, no flag set.
constexpr std::uint32_t kDefaultMxcsr = 0x1F80;
#endif
#if defined(VLM_FP_X87)
// Every exception masked, 53-bit precision, round to nearest.
constexpr std::uint16_t kDefaultX87Control = 0x027F;
#endif

}  // namespace

HostFloatingPointGuard::HostFloatingPointGuard() noexcept {
#if defined(VLM_FP_X86)
    mxcsr_ = _mm_getcsr();
#if defined(VLM_FP_X87)
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned char* env = x87_;
    std::uint16_t control = kDefaultX87Control;
    __asm {
        mov eax, env
        fnstenv [eax]
        fldcw control
    }
#else
    std::uint16_t control = kDefaultX87Control;
    // fnstenv also masks every x87 exception, so nothing pending can trap
    // before the new control word is loaded.
    __asm__ volatile("fnstenv %0\n\tfldcw %1" : "=m"(x87_) : "m"(control) : "memory");
#endif
#endif
    _mm_setcsr(kDefaultMxcsr);
#else
    std::fegetenv(&saved_);
    std::fesetenv(FE_DFL_ENV);
#endif
}

HostFloatingPointGuard::~HostFloatingPointGuard() {
#if defined(VLM_FP_X86)
    _mm_setcsr(mxcsr_);
#if defined(VLM_FP_X87)
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned char* env = x87_;
    __asm {
        mov eax, env
        fldenv [eax]
    }
#else
    __asm__ volatile("fldenv %0" : : "m"(x87_) : "memory");
#endif
#endif
#else
    std::fesetenv(&saved_);
#endif
}

}  // namespace vlm
