// The bar-file reader on arbitrary bytes: it either returns bars whose
// columns agree in length, or refuses with its own error. Nothing else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bar_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const vlmstruct::BarSeries bars =
            vlmstruct::parseBarText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.csv");
        const std::size_t n = bars.size();
        const bool consistent = n > 0 && bars.low.size() == n && (bars.dates.empty() || bars.dates.size() == n) &&
                                (bars.open.empty() || bars.open.size() == n) &&
                                (bars.close.empty() || bars.close.size() == n);
        if (!consistent) {
            std::fprintf(stderr, "inconsistent bar series\n");
            std::abort();
        }
        for (std::size_t i = 1; i < bars.dates.size(); ++i) {
            if (!(bars.dates[i - 1] < bars.dates[i])) {
                std::fprintf(stderr, "dates not strictly ascending\n");
                std::abort();
            }
        }
    } catch (const vlmstruct::BarFileError&) {
    }
    return 0;
}
