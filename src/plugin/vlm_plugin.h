/* A plug-in's surface as the host sees it: one export and a packed table of
   numbered functions. Both plug-ins, testVelmorDll and testVelmorPoints, have
   it. Plain C so that a host or a harness can include it. */
#ifndef VLM_PLUGIN_H
#define VLM_PLUGIN_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VLM_CALL __cdecl
#else
#define VLM_CALL
#endif

#if defined(_WIN32)
#define VLM_EXPORT /* exported through the module-definition file, at ordinal 1 */
#elif defined(__GNUC__)
#define VLM_EXPORT __attribute__((visibility("default")))
#else
#define VLM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* count bars; outSeries written; inA, inB, inC only read (inC only by the
   functions that take a third series). */
typedef void(VLM_CALL* PluginCalcFunc)(int32_t count, float* outSeries, const float* inA,
                                       const float* inB, const float* inC);

/* The host reads rows as bytes: 6 per row in a 32-bit library, 10 in a 64-bit one. */
#pragma pack(push, 1)
typedef struct FuncTableEntry {
    uint16_t funcNo; /* 1, 2, ... in order; 0 ends the table */
    PluginCalcFunc funcPtr;
} FuncTableEntry;
#pragma pack(pop)

/* Stores the table's address in *ppTable and returns 1 when *ppTable is null;
   otherwise returns 0 and leaves it unchanged. */
VLM_EXPORT int32_t VLM_CALL RegisterVlmFunc(const FuncTableEntry** ppTable);

#ifdef __cplusplus
}
#endif

#endif
