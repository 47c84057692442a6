// Does what the host does, and nothing more: loads the library, finds the
// export by name and by ordinal, registers, reads the table as bytes, and
// calls every function through its row. Prints "N passed, M failed".
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
// the bits of the Linux core called plainly under the default setting, and
// the caller's settings unchanged afterwards.
void callerSettings(const std::vector<Row>& t, const std::vector<vlm::testing::HostCase>& cases) {
    for (const vlm::testing::CallerFloatingPoint& env : vlm::testing::kCallerFloatingPoint) {
        int wrongBits = 0;
        int changedState = 0;
        for (const auto& c : cases) {
            for (int f = 0; f < 9; ++f) {
                currentStep = env.name;
                std::vector<float> out(c.high.size(), 42.0f);
                const float* a = f < 2 ? c.high.data() : c.signal.data();
                const float* b = f < 2 ? c.low.data() : c.high.data();
                const float* third = f < 2 ? nullptr : c.low.data();
                const auto n = static_cast<std::int32_t>(c.high.size());
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
        for (const auto& c : cases) {
            for (int f = 0; f < 9; ++f) {
                std::vector<float> out(c.high.size(), 42.0f);
                const StackCall call{t[f].function,
                                     static_cast<std::int32_t>(c.high.size()),
                                     out.data(),
                                     f < 2 ? c.high.data() : c.signal.data(),
                                     f < 2 ? c.low.data() : c.high.data(),
                                     f < 2 ? nullptr : c.low.data(),
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

void generatedCases(const std::vector<Row>& t, const char* path) {
    std::vector<vlm::testing::HostCase> cases;
    check(vlm::testing::readHostVectors(path, cases) && !cases.empty(),
          std::string("reading the Linux outputs from ") + path);
    callerSettings(t, cases);
    currentStep = "the default calls";
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
    AddVectoredExceptionHandler(1, reportException);
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
