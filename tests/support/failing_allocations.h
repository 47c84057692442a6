#pragma once
// Memory that runs out on demand: the test binary's operator new fails the
// allocation a countdown names. Include it in one file of a test program.
#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__GNUC__) && !defined(__clang__)
// The replaced operators pair malloc with free; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
// Counts down to a failing allocation; negative means never fail.
std::atomic<long> allocationsUntilFailure{-1};
std::atomic<bool> injectedFailure{false};
}  // namespace

void* operator new(std::size_t size) {
    const long left = allocationsUntilFailure.load();
    if (left >= 0) {
        if (left == 0) {
            allocationsUntilFailure.store(-1);
            injectedFailure.store(true);
            throw std::bad_alloc();
        }
        allocationsUntilFailure.store(left - 1);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
