#pragma once
// The file of generated cases whose expected outputs come from the Linux
// build's core, called under the default floating-point setting, read by the
// Windows host harness to prove bit-identity under every caller setting.
//
// Layout, little-endian: "VLMVEC01", uint32 case count, then per case:
// uint32 bar count n, float signal[n], high[n], low[n], then the nine
// outputs float out[9][n]. Functions 1 and 2 read high and low, functions 3
// to 9 read signal, high and low.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vlm::testing {

struct HostCase {
    std::vector<float> signal, high, low;
    std::vector<float> outputs[9];
};

inline constexpr char kHostVectorsMagic[8] = {'V', 'L', 'M', 'V', 'E', 'C', '0', '1'};

inline bool writeHostVectors(const char* path, const std::vector<HostCase>& cases) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(kHostVectorsMagic, 1, 8, f) == 8;
    const auto count = static_cast<std::uint32_t>(cases.size());
    ok = ok && std::fwrite(&count, 4, 1, f) == 1;
    for (const HostCase& c : cases) {
        const auto n = static_cast<std::uint32_t>(c.high.size());
        ok = ok && std::fwrite(&n, 4, 1, f) == 1;
        for (const std::vector<float>* v : {&c.signal, &c.high, &c.low}) {
            ok = ok && std::fwrite(v->data(), 4, n, f) == n;
        }
        for (const auto& out : c.outputs) ok = ok && std::fwrite(out.data(), 4, n, f) == n;
    }
    return std::fclose(f) == 0 && ok;
}

inline bool readHostVectors(const char* path, std::vector<HostCase>& cases) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char magic[8];
    std::uint32_t count = 0;
    bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, kHostVectorsMagic, 8) == 0 &&
              std::fread(&count, 4, 1, f) == 1;
    for (std::uint32_t k = 0; ok && k < count; ++k) {
        std::uint32_t n = 0;
        ok = std::fread(&n, 4, 1, f) == 1 && n < (1u << 26);
        if (!ok) break;
        HostCase c;
        for (std::vector<float>* v : {&c.signal, &c.high, &c.low}) {
            v->resize(n);
            ok = ok && std::fread(v->data(), 4, n, f) == n;
        }
        for (auto& out : c.outputs) {
            out.resize(n);
            ok = ok && std::fread(out.data(), 4, n, f) == n;
        }
        cases.push_back(std::move(c));
    }
    std::fclose(f);
    return ok;
}

}  // namespace vlm::testing
