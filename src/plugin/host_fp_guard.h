#pragma once
// The host's floating-point settings belong to the host. Many hosts run with
// exceptions unmasked, or with flush-to-zero or another rounding mode; our
// comparisons must neither trap there nor give other bits. An entry function
// holds one guard for the whole call: it saves the caller's state, computes
// under the default state (every exception masked, round to nearest, no
// flush-to-zero, no denormals-are-zero) and hands the caller's state back
// exactly, status flags included.

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define VLM_FP_X86 1
#if defined(__i386__) || defined(_M_IX86)
#define VLM_FP_X87 1
#endif
#else
#include <cfenv>
#endif

namespace vlm {

class HostFloatingPointGuard {
public:
    HostFloatingPointGuard() noexcept;
    ~HostFloatingPointGuard();
    HostFloatingPointGuard(const HostFloatingPointGuard&) = delete;
    HostFloatingPointGuard& operator=(const HostFloatingPointGuard&) = delete;

private:
#if defined(VLM_FP_X86)
    std::uint32_t mxcsr_ = 0;
#if defined(VLM_FP_X87)
    // The x87 environment (control, status and tag words), 28 bytes in
    // 32-bit protected mode; 32-bit code still moves floats through it.
    alignas(4) unsigned char x87_[28] = {};
#endif
#else
    std::fenv_t saved_{};
#endif
};

}  // namespace vlm
