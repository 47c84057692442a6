// Does what the host does, and nothing more: loads a plug-in, finds the
// export by name and by ordinal, registers, reads the table as bytes, and
// calls every function through its row, on the cases the Linux build of the
// same plug-in wrote with its outputs. Either plug-in: the vectors file
// names it and says which series each function takes. Prints
// "PLUGIN winNN: N passed, M failed" last.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <array>
#include <string>
#include <vector>

#include "plugin/vlm_plugin.h"
#include "support/caller_fp.h"
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

constexpr std::size_t kStride = 2 + sizeof(void*);  // 6 or 10 bytes

std::vector<Row> readTable(const void* table, std::size_t rowCount) {
    const auto* bytes = static_cast<const unsigned char*>(table);
    const std::size_t stride = kStride;
    std::vector<Row> rows;
    for (std::size_t r = 0; r < rowCount; ++r) {
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

// Every function: a count of 0 or below writes nothing, and the output may
// be any of the inputs it reads.
void edgeCases(const std::vector<Row>& t, const vlm::testing::HostVectors& v) {
    const vlm::testing::HostCase& c = v.cases.front();
    const auto n = static_cast<std::int32_t>(c.series[0].size());
    for (std::size_t f = 0; f < v.inputs.size(); ++f) {
        const std::string name = "function " + std::to_string(f + 1);
        const auto [a, b, third] = v.arguments(f, c);
        std::vector<float> out(7, 7.5f);
        t[f].function(0, out.data(), a, b, third);
        t[f].function(-3, out.data(), a, b, third);
        check(out == std::vector<float>(7, 7.5f), name + " count 0 and negative write nothing");
        for (std::size_t k = 0; k < 3; ++k) {
            if (v.inputs[f][k] == vlm::testing::kNoSeries) continue;
            std::vector<std::vector<float>> series = c.series;
            std::array<const float*, 3> in{};
            for (std::size_t j = 0; j < 3; ++j) {
                in[j] = v.inputs[f][j] == vlm::testing::kNoSeries ? nullptr : series[v.inputs[f][j]].data();
            }
            std::vector<float>& shared = series[v.inputs[f][k]];
            t[f].function(n, shared.data(), in[0], in[1], in[2]);
            check(sameBits(shared, c.outputs[f]), name + " output aliasing input " + std::to_string(k + 1));
        }
    }
}

// An exception that reaches the host ends it; say which and where first.
const char* currentStep = "start";

LONG WINAPI reportException(EXCEPTION_POINTERS* info) {
    switch (info->ExceptionRecord->ExceptionCode) {
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
        case 0xC00002B4L:  // several floating-point faults
        case 0xC00002B5L:  // several floating-point traps
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
            break;
        default:
            return EXCEPTION_CONTINUE_SEARCH;  // the system's own, first-chance
    }
    std::printf("FAILED: exception 0x%08lX reached the host during %s\n",
                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), currentStep);
    std::printf("%d passed, %d failed\n", passed, failed + 1);
    std::fflush(stdout);
    ExitProcess(3);
}

// The caller's settings as the host would have them around one call.
struct CallerState {
    std::uint32_t mxcsr = 0;
    std::uint16_t x87Control = 0;
    std::uint16_t x87Status = 0;
    bool operator==(const CallerState&) const = default;
};

#if defined(__i386__)
// Calls f with the stack pointer `offset` bytes (0, 4, 8 or 12) off a
// 16-byte boundary at the call: a 32-bit Windows caller promises only 4.
struct StackCall {
    PluginCalcFunc function;
    std::int32_t count;
    float* out;
    const float* a;
    const float* b;
    const float* c;
    std::uint32_t offset;
};
static_assert(offsetof(StackCall, c) == 20 && offsetof(StackCall, offset) == 24,
              "the call below reads the arguments at these offsets");

void callOnStack(const StackCall& call) {
    __asm__ volatile(
        "mov %%esp, %%esi\n\t"
        "and $-16, %%esp\n\t"
        "sub $12, %%esp\n\t"
        "sub 24(%%edi), %%esp\n\t"
        "push 20(%%edi)\n\t"
        "push 16(%%edi)\n\t"
        "push 12(%%edi)\n\t"
        "push 8(%%edi)\n\t"
        "push 4(%%edi)\n\t"
        "call *(%%edi)\n\t"
        "mov %%esi, %%esp\n\t"
        :
        : "D"(&call)
        : "esi", "eax", "ecx", "edx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4",
          "xmm5", "xmm6", "xmm7");
}
#endif

// Every function on every case under every caller setting: no exception,
// the Linux build's bits, and the caller's settings unchanged afterwards.
void callerSettings(const std::vector<Row>& t, const vlm::testing::HostVectors& v) {
    for (const vlm::testing::CallerFloatingPoint& env : vlm::testing::kCallerFloatingPoint) {
        int wrongBits = 0;
        int changedState = 0;
        for (const auto& c : v.cases) {
            for (std::size_t f = 0; f < v.inputs.size(); ++f) {
                currentStep = env.name;
                std::vector<float> out(c.series[0].size(), 42.0f);
                const auto [a, b, third] = v.arguments(f, c);
                const auto n = static_cast<std::int32_t>(out.size());
                const std::uint32_t hostMxcsr = vlm::testing::readMxcsr();
                CallerState set{env.mxcsr, 0, 0};
#if defined(__i386__)
                const std::uint16_t hostControl = vlm::testing::readX87Control();
                vlm::testing::loadX87Control(env.x87Control);
                set.x87Control = vlm::testing::readX87Control();
                set.x87Status = vlm::testing::readX87Status();
#endif
                vlm::testing::loadMxcsr(env.mxcsr);
                t[f].function(n, out.data(), a, b, third);
                CallerState after{vlm::testing::readMxcsr(), 0, 0};
#if defined(__i386__)
                after.x87Control = vlm::testing::readX87Control();
                after.x87Status = vlm::testing::readX87Status();
                vlm::testing::loadX87Control(hostControl);
#endif
                vlm::testing::loadMxcsr(hostMxcsr);
                wrongBits += sameBits(out, c.outputs[f]) ? 0 : 1;
                changedState += after == set ? 0 : 1;
            }
        }
        check(wrongBits == 0, std::string(env.name) + ": outputs bit-identical to Linux (" +
                                  std::to_string(wrongBits) + " calls differ)");
        check(changedState == 0, std::string(env.name) + ": caller's settings unchanged (" +
                                     std::to_string(changedState) + " calls changed them)");
    }
#if defined(__i386__)
    for (std::uint32_t offset : {0u, 4u, 8u, 12u}) {
        currentStep = "a call on a 4-byte aligned stack";
        int wrongBits = 0;
        for (const auto& c : v.cases) {
            for (std::size_t f = 0; f < v.inputs.size(); ++f) {
                std::vector<float> out(c.series[0].size(), 42.0f);
                const auto [a, b, third] = v.arguments(f, c);
                const StackCall call{t[f].function, static_cast<std::int32_t>(out.size()), out.data(), a, b, third,
                                     offset};
                callOnStack(call);
                wrongBits += sameBits(out, c.outputs[f]) ? 0 : 1;
            }
        }
        check(wrongBits == 0, "stack " + std::to_string(offset) +
                                  " bytes off 16: outputs bit-identical to Linux (" +
                                  std::to_string(wrongBits) + " calls differ)");
    }
#endif
}

void generatedCases(const std::vector<Row>& t, const vlm::testing::HostVectors& v) {
    callerSettings(t, v);
    currentStep = "the default calls";
    for (std::size_t k = 0; k < v.cases.size(); ++k) {
        const auto& c = v.cases[k];
        for (std::size_t f = 0; f < v.inputs.size(); ++f) {
            std::vector<float> out(c.series[0].size(), 42.0f);
            const auto [a, b, third] = v.arguments(f, c);
            t[f].function(static_cast<std::int32_t>(out.size()), out.data(), a, b, third);
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
    const char* bits = sizeof(void*) == 4 ? "win32" : "win64";
    vlm::testing::HostVectors vectors;
    check(vlm::testing::readHostVectors(argv[2], vectors) && !vectors.cases.empty(),
          std::string("reading the Linux outputs from ") + argv[2]);
    const std::string plugin = vectors.plugin.empty() ? "?" : vectors.plugin;
    const auto finish = [&] {
        std::printf("%s %s: %d passed, %d failed\n", plugin.c_str(), bits, passed, failed);
        return failed == 0 ? 0 : 1;
    };
    if (vectors.cases.empty()) return finish();
    AddVectoredExceptionHandler(1, reportException);
    HMODULE library = LoadLibraryA(argv[1]);
    check(library != nullptr, std::string("LoadLibrary ") + argv[1]);
    if (library == nullptr) return finish();
    const auto byName = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(library, "RegisterVlmFunc")));
    const auto byOrdinal = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    check(byName != nullptr && byName == byOrdinal, "RegisterVlmFunc by name and at ordinal 1");
    check(GetProcAddress(library, "_RegisterVlmFunc") == nullptr, "no decorated name");
    check(GetProcAddress(library, MAKEINTRESOURCEA(2)) == nullptr, "no second export");
    if (byName == nullptr) return finish();

    const void* table = nullptr;
    check(byName(&table) == 1 && table != nullptr, "RegisterVlmFunc hands out the table");
    const void* kept = table;
    check(byName(&table) == 0 && table == kept, "RegisterVlmFunc refuses a set pointer");

    // Read at the packed stride, the rows are numbered 1, 2, ... in order
    // and the terminator follows the last; at any other stride they are not.
    const std::size_t functions = vectors.inputs.size();
    const std::vector<Row> rows = readTable(table, functions + 1);
    bool numbered = true;
    for (std::size_t r = 0; r < functions; ++r) {
        numbered = numbered && rows[r].number == r + 1 && rows[r].function != nullptr;
    }
    check(numbered, "rows 1 to " + std::to_string(functions) + " in order, " + std::to_string(kStride) + " bytes apart");
    check(rows[functions].number == 0 && rows[functions].function == nullptr, "terminator row");
    if (!numbered) return finish();

    if (plugin == "testVelmorDll") workedExamples(rows);
    edgeCases(rows, vectors);
    generatedCases(rows, vectors);

    check(FreeLibrary(library) != 0, "FreeLibrary");
    return finish();
}
