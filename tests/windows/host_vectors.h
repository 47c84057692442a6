#pragma once
// The file of cases whose expected outputs come from the Linux build of a
// plug-in, read by the Windows host harness to prove bit-identity.
//
// Layout, little-endian: "VLMVEC02"; the plug-in's name (uint32 length, then
// its characters); uint32 function count F; per function the three series
// it takes as inA, inB, inC (uint8 index into a case's series, 255 for
// null); uint32 case count; then per case: uint32 bar count n, uint32 series
// count S, float series[S][n], then the F outputs float out[F][n].

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vlm::testing {

inline constexpr std::uint8_t kNoSeries = 255;

struct HostCase {
    std::vector<std::vector<float>> series;
    std::vector<std::vector<float>> outputs;  // one per function
};

struct HostVectors {
    std::string plugin;                                // "testVelmorDll", "testVelmorPoints"
    std::vector<std::array<std::uint8_t, 3>> inputs;   // per function: inA, inB, inC
    std::vector<HostCase> cases;

    // Function f's inputs in case c, in the host's order (null where none).
    [[nodiscard]] std::array<const float*, 3> arguments(std::size_t f, const HostCase& c) const {
        std::array<const float*, 3> out{};
        for (std::size_t k = 0; k < 3; ++k) {
            out[k] = inputs[f][k] == kNoSeries ? nullptr : c.series[inputs[f][k]].data();
        }
        return out;
    }
};

namespace host_vectors_detail {

inline constexpr char kMagic[8] = {'V', 'L', 'M', 'V', 'E', 'C', '0', '2'};

inline bool put(std::FILE* f, const void* data, std::size_t bytes) {
    return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}
inline bool get(std::FILE* f, void* data, std::size_t bytes) {
    return bytes == 0 || std::fread(data, 1, bytes, f) == bytes;
}
inline bool putCount(std::FILE* f, std::size_t n) {
    const auto v = static_cast<std::uint32_t>(n);
    return put(f, &v, 4);
}
inline bool getCount(std::FILE* f, std::uint32_t& n, std::uint32_t most) {
    return get(f, &n, 4) && n <= most;
}

}  // namespace host_vectors_detail

inline bool writeHostVectors(const char* path, const HostVectors& v) {
    using namespace host_vectors_detail;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = put(f, kMagic, 8) && putCount(f, v.plugin.size()) && put(f, v.plugin.data(), v.plugin.size()) &&
              putCount(f, v.inputs.size());
    for (const auto& in : v.inputs) ok = ok && put(f, in.data(), 3);
    ok = ok && putCount(f, v.cases.size());
    for (const HostCase& c : v.cases) {
        const std::size_t n = c.series.empty() ? 0 : c.series[0].size();
        ok = ok && putCount(f, n) && putCount(f, c.series.size());
        for (const auto& s : c.series) ok = ok && s.size() == n && put(f, s.data(), 4 * n);
        for (const auto& out : c.outputs) ok = ok && out.size() == n && put(f, out.data(), 4 * n);
    }
    return std::fclose(f) == 0 && ok;
}

inline bool readHostVectors(const char* path, HostVectors& v) {
    using namespace host_vectors_detail;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char magic[8];
    std::uint32_t length = 0, functions = 0, count = 0;
    bool ok = get(f, magic, 8) && std::memcmp(magic, kMagic, 8) == 0 && getCount(f, length, 64);
    v.plugin.assign(length, '\0');
    ok = ok && get(f, v.plugin.data(), length) && getCount(f, functions, 64);
    v.inputs.assign(ok ? functions : 0, {});
    for (auto& in : v.inputs) ok = ok && get(f, in.data(), 3);
    ok = ok && getCount(f, count, 1u << 16);
    for (std::uint32_t k = 0; ok && k < count; ++k) {
        std::uint32_t n = 0, series = 0;
        ok = getCount(f, n, 1u << 26) && getCount(f, series, 8);
        if (!ok) break;
        HostCase c;
        c.series.assign(series, std::vector<float>(n));
        c.outputs.assign(functions, std::vector<float>(n));
        for (auto& s : c.series) ok = ok && get(f, s.data(), 4 * n);
        for (auto& out : c.outputs) ok = ok && get(f, out.data(), 4 * n);
        for (const auto& in : v.inputs) {
            for (std::uint8_t s : in) ok = ok && (s == kNoSeries || s < series);
        }
        v.cases.push_back(std::move(c));
    }
    std::fclose(f);
    return ok;
}

}  // namespace vlm::testing
