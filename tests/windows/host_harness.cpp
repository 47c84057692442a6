// Does what the host does, and nothing more: loads the library, finds the
// export by name and by ordinal, registers, reads the table as bytes, and
// calls every function through its row. Prints "N passed, M failed".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "windows/host_vectors.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
}

using Register = std::int32_t(VLM_CALL*)(const void** ppTable);

// Rows read the way the host reads them: raw bytes at the packed stride.
struct Row {
    std::uint16_t number;
    PluginCalcFunc function;
};

std::vector<Row> readTable(const void* table) {
    const auto* bytes = static_cast<const unsigned char*>(table);
    const std::size_t stride = 2 + sizeof(void*);
    std::vector<Row> rows;
    for (std::size_t r = 0; r < 10; ++r) {
        Row row{};
        std::memcpy(&row.number, bytes + r * stride, 2);
        std::memcpy(&row.function, bytes + r * stride + 2, sizeof(void*));
        rows.push_back(row);
    }
    return rows;
}

std::vector<float> call(PluginCalcFunc f, const std::vector<float>& a, const std::vector<float>& b,
                        const std::vector<float>* c, float fill = 42.0f) {
    std::vector<float> out(a.size(), fill);
    f(static_cast<std::int32_t>(a.size()), out.data(), a.data(), b.data(), c ? c->data() : nullptr);
    return out;
}

void workedExamples(const std::vector<Row>& t) {
    const std::vector<float> h1 = {10, 12, 11, 13, 12, 11}, l1 = {5, 6, 7, 6, 8, 6};
    check(call(t[0].function, h1, l1, nullptr) == std::vector<float>{0, 0, 0, 1, 0, -1},
          "function 1 worked example");
    const std::vector<float> h2 = {10, 9, 8, 7, 6, 7, 8, 9, 10, 11}, l2 = {9, 8, 7, 6, 5, 6, 7, 8, 9, 10};
    check(call(t[1].function, h2, l2, nullptr) == std::vector<float>{1, 0, 0, 0, -1, 0, 0, 0, 0, 1},
          "function 2 worked example");
    const std::vector<float> bi = {-1, 1, -1, 1, -1, 1, -1, 0}, h3 = {11, 20, 16, 18, 17, 19, 17, 17},
                             l3 = {10, 15, 14, 15, 15, 16, 13, 13};
    check(call(t[2].function, bi, h3, &l3) == std::vector<float>{-1, 1, 0, 0, 0, 0, -1, 0},
          "function 3 pullback example");
    check(call(t[3].function, bi, h3, &l3) == std::vector<float>{-1, 1, 0, 0, 0, 0, 0, 0},
          "function 4 pullback example");
    // The rising pivot that is cut back: {15, 30, 11, 8, +1}.
    std::vector<float> s(50), h(50), l(50);
    const int bottoms[] = {10, 20, 30, 40}, tops[] = {15, 25, 35, 45};
    const float lows[] = {5, 7, 8, 9}, highs[] = {12, 11, 13, 7.5f};
    for (int k = 0; k < 4; ++k) {
        s[bottoms[k]] = -1;
        l[bottoms[k]] = lows[k];
        s[tops[k]] = 1;
        h[tops[k]] = highs[k];
    }
    const float values[] = {11, 8, 0, 1, 1};
    for (int f = 4; f < 9; ++f) {
        const std::vector<float> out = call(t[f].function, s, h, &l);
        bool ok = true;
        for (int j = 0; j < 50; ++j) {
            float want = (j > 15 && j < 30) ? values[f - 4] : 0.0f;
            if (f == 6) want = j == 16 ? 1.0f : j == 29 ? 2.0f : 0.0f;
            ok = ok && out[j] == want;
        }
        check(ok, "function " + std::to_string(f + 1) + " pivot example");
    }
}

void edgeCases(const std::vector<Row>& t) {
    std::vector<float> a = {1, -1, 1, -1, 1, -1, 1}, b = {5, 4, 6, 3, 7, 2, 8}, c = {4, 3, 5, 2, 6, 1, 7};
    for (int f = 0; f < 9; ++f) {
        const std::string name = "function " + std::to_string(f + 1);
        std::vector<float> out(7, 7.5f);
        t[f].function(0, out.data(), a.data(), b.data(), c.data());
        t[f].function(-3, out.data(), a.data(), b.data(), c.data());
        check(out == std::vector<float>(7, 7.5f), name + " count 0 and negative write nothing");
        const std::vector<float>* third = f < 2 ? nullptr : &c;
        const std::vector<float> expected = call(t[f].function, f < 2 ? b : a, f < 2 ? c : b, third);
        // The output may be any of the inputs.
        for (int which = 0; which < (f < 2 ? 2 : 3); ++which) {
            std::vector<float> x = f < 2 ? b : a, y = f < 2 ? c : b, z = c;
            std::vector<float>& shared = which == 0 ? x : which == 1 ? y : z;
            t[f].function(7, shared.data(), x.data(), y.data(), f < 2 ? nullptr : z.data());
            check(sameBits(shared, expected), name + " output aliasing input " + std::to_string(which + 1));
        }
    }
}

void generatedCases(const std::vector<Row>& t, const char* path) {
    std::vector<vlm::testing::HostCase> cases;
    check(vlm::testing::readHostVectors(path, cases) && !cases.empty(),
          std::string("reading the Linux outputs from ") + path);
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto& c = cases[k];
        for (int f = 0; f < 9; ++f) {
            const std::vector<float> out = f < 2 ? call(t[f].function, c.high, c.low, nullptr)
                                                 : call(t[f].function, c.signal, c.high, &c.low);
            check(sameBits(out, c.outputs[f]), "case " + std::to_string(k) + " function " +
                                                   std::to_string(f + 1) + " bit-identical to Linux");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: host_harness DLL VECTORS\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    check(library != nullptr, std::string("LoadLibrary ") + argv[1]);
    if (library == nullptr) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    const auto byName = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(library, "RegisterVlmFunc")));
    const auto byOrdinal = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    check(byName != nullptr && byName == byOrdinal, "RegisterVlmFunc by name and at ordinal 1");
    check(GetProcAddress(library, "_RegisterVlmFunc") == nullptr, "no decorated name");
    check(GetProcAddress(library, MAKEINTRESOURCEA(2)) == nullptr, "no second export");
    if (byName == nullptr) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    const void* table = nullptr;
    check(byName(&table) == 1 && table != nullptr, "RegisterVlmFunc hands out the table");
    const void* kept = table;
    check(byName(&table) == 0 && table == kept, "RegisterVlmFunc refuses a set pointer");

    const std::vector<Row> rows = readTable(table);
    bool numbered = true;
    for (int r = 0; r < 9; ++r) numbered = numbered && rows[r].number == r + 1 && rows[r].function != nullptr;
    check(numbered, "rows 1 to 9 in order");
    check(rows[9].number == 0 && rows[9].function == nullptr, "terminator row");
    check(sizeof(void*) == 4 ? 2 + sizeof(void*) == 6 : 2 + sizeof(void*) == 10, "row stride");

    workedExamples(rows);
    edgeCases(rows);
    generatedCases(rows, argv[2]);

    check(FreeLibrary(library) != 0, "FreeLibrary");
    std::printf("%s: %d passed, %d failed\n", sizeof(void*) == 4 ? "win32" : "win64", passed, failed);
    return failed == 0 ? 0 : 1;
}
