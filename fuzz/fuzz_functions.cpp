// Arbitrary bytes become a function number, a bar count and three series of
// arbitrary float bit patterns; the function is called through the
// registration table with guard zones around every array. Checks: no write
// outside outSeries[0, count), inputs unchanged, only the values the function
// may write, and the stroke signal's alternation.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/vlm_plugin.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr std::uint32_t kGuardBits = 0x7fb1dead;  // a signalling NaN nobody writes

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    template <class T>
    T take() {
        T v{};
        const std::size_t n = std::min(sizeof(T), size_ - std::min(at_, size_));
        if (n > 0) std::memcpy(&v, data_ + at_, n);
        at_ += sizeof(T);
        return v;
    }
    [[nodiscard]] bool empty() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A series with guard zones on both sides.
struct Guarded {
    explicit Guarded(std::size_t n) : bits(n + 2 * kGuard, kGuardBits) {}
    float* data() { return reinterpret_cast<float*>(bits.data() + kGuard); }
    [[nodiscard]] bool guardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bits[i] != kGuardBits || bits[bits.size() - 1 - i] != kGuardBits) return false;
        }
        return true;
    }
    std::vector<std::uint32_t> bits;
};

float valueFrom(Reader& r, std::uint8_t style) {
    // Mostly prices near each other so that structures form; sometimes any bit pattern.
    switch (style % 4) {
        case 0: return static_cast<float>(r.take<std::uint8_t>() % 16);
        case 1: return 100.0f + static_cast<float>(r.take<std::int8_t>()) / 8.0f;
        case 2: {
            const std::uint8_t k = r.take<std::uint8_t>() % 8;
            const float codes[] = {1.0f, -1.0f, 0.0f, -0.0f, 1.0000001f, 2.0f, NAN, -1.0f};
            return codes[k];
        }
        default: {
            const auto bits = r.take<std::uint32_t>();
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        }
    }
}

bool isInputPrice(float v, Guarded& series, std::size_t n) {
    const float* prices = series.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (prices[i] == v) return true;
    }
    return false;
}

void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    const int number = 1 + r.take<std::uint8_t>() % 9;
    const std::uint8_t countByte = r.take<std::uint8_t>();
    const std::uint8_t style = r.take<std::uint8_t>();
    // Now and then an out-of-range count, which must change nothing.
    const bool negative = countByte == 255;
    const std::size_t n = negative ? 0 : static_cast<std::size_t>(countByte) * 8 + r.take<std::uint8_t>() % 8;

    const FuncTableEntry* table = nullptr;
    if (RegisterVlmFunc(&table) != 1) fail("registration");
    const PluginCalcFunc f = table[number - 1].funcPtr;

    Guarded a(n), b(n), c(n), out(n);
    for (std::size_t i = 0; i < n; ++i) {
        a.data()[i] = valueFrom(r, number >= 3 ? 2 : style);
        const float h = valueFrom(r, style);
        b.data()[i] = h;
        c.data()[i] = (style & 0x10) ? valueFrom(r, style) : h - static_cast<float>(r.take<std::uint8_t>() % 4);
        out.data()[i] = 12345.0f;
    }
    const auto aBefore = a.bits, bBefore = b.bits, cBefore = c.bits;
    const std::vector<std::uint32_t> outBefore = out.bits;

    // Functions 1 and 2 read highs and lows; 3 to 9 the signal first.
    const std::int32_t count = negative ? -static_cast<std::int32_t>(countByte) : static_cast<std::int32_t>(n);
    if (number <= 2) {
        f(count, out.data(), b.data(), c.data(), nullptr);
    } else {
        f(count, out.data(), a.data(), b.data(), c.data());
    }

    if (!out.guardsIntact()) fail("write outside outSeries");
    if (a.bits != aBefore || b.bits != bBefore || c.bits != cBefore) fail("an input changed");
    if (negative) {
        if (out.bits != outBefore) fail("negative count wrote");
        return 0;
    }
    float previous = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = out.data()[i];
        switch (number) {
            case 1: case 2: case 3: case 4: case 8:
                if (v != 0.0f && v != 1.0f && v != -1.0f) fail("a signal value other than 0, 1, -1");
                break;
            case 7:
                if (v != 0.0f && v != 1.0f && v != 2.0f) fail("an end mark other than 0, 1, 2");
                break;
            case 9:
                if (v < 0.0f || v != std::floor(v)) fail("a run count that is not a whole number");
                break;
            default:  // 5 and 6 publish prices taken from the highs or lows
                // An infinite price is a price: tops at +inf make upper +inf.
                // NaN never bounds a zone, whose lower is strictly below upper.
                if (v != 0.0f && (std::isnan(v) || !isInputPrice(v, number == 5 ? b : c, n))) {
                    fail("a zone bound that is none of the input prices");
                }
                break;
        }
        if ((number == 3 || number == 4) && v != 0.0f && v != a.data()[i]) {
            fail("a segment mark off its stroke end");
        }
        if (number <= 4) {
            if (v != 0.0f) {
                if (v == previous) fail("marks do not alternate");
                if (number == 2 && previous == 0.0f && v != 1.0f) fail("the first stroke mark is not a top");
                previous = v;
            }
        }
    }
    if (number == 2 && n > 0 && previous == 0.0f) fail("no stroke mark");
    return 0;
}
