// Very long series through all nine functions, as the host calls them:
// checks that no index or size arithmetic overflows (every output stays in
// its value set and the marks are where the structures say) and reports the
// peak memory per bar. Usage: scale_check BARS
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "plugin/vlm_plugin.h"

int main(int argc, char** argv) {
    const long long bars = argc > 1 ? std::atoll(argv[1]) : 50000000LL;
    if (bars <= 0 || bars > 2147483647LL) {
        std::fprintf(stderr, "scale_check: BARS must be in 1..2147483647\n");
        return 2;
    }
    const auto n = static_cast<std::size_t>(bars);
    std::vector<float> high(n), low(n), signal(n), out(n);
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> step(-100, 100), range(0, 60);
    long long cents = 10000;
    for (std::size_t i = 0; i < n; ++i) {
        cents = std::max(100LL, cents + step(rng));
        high[i] = static_cast<float>(cents + range(rng)) / 100.0f;
        low[i] = static_cast<float>(cents - range(rng)) / 100.0f;
    }
    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    const FuncTableEntry* table = nullptr;
    RegisterVlmFunc(&table);
    const auto count = static_cast<std::int32_t>(n);
    const auto t0 = std::chrono::steady_clock::now();
    table[1].funcPtr(count, signal.data(), high.data(), low.data(), nullptr);
    long long marks = 0;
    float previous = -1.0f;
    bool ok = true;
    for (float v : signal) {
        if (v == 0.0f) continue;
        ok = ok && v == -previous;
        previous = v;
        ++marks;
    }
    std::printf("function 2: %lld stroke ends, alternating: %s\n", marks, ok ? "yes" : "NO");
    for (int f = 0; f < 9; ++f) {
        if (f == 1) continue;
        const float* a = f < 2 ? high.data() : signal.data();
        const float* b = f < 2 ? low.data() : high.data();
        table[f].funcPtr(count, out.data(), a, b, f < 2 ? nullptr : low.data());
        long long nonzero = 0;
        for (float v : out) {
            nonzero += v != 0.0f;
            if (f == 6) ok = ok && (v == 0.0f || v == 1.0f || v == 2.0f);
            if (f == 0 || f == 2 || f == 3 || f == 7) ok = ok && (v == 0.0f || v == 1.0f || v == -1.0f);
        }
        std::printf("function %d: %lld bars non-zero\n", f + 1, nonzero);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    const double inputsBytes = 4.0 * 4.0 * static_cast<double>(n);
    const double peak = static_cast<double>(after.ru_maxrss) * 1024.0;
    std::printf("%lld bars, nine functions in %.1f s; peak resident %.0f MiB = %.1f bytes per bar "
                "(of which %.0f for the caller's four series)\n",
                bars, seconds, peak / 1048576.0, peak / static_cast<double>(n),
                inputsBytes / static_cast<double>(n));
    std::printf("%s\n", ok ? "all outputs within their value sets" : "OUTPUT OUT OF RANGE");
    return ok ? 0 : 1;
}
