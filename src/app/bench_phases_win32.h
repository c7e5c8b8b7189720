// Start-up phase stamps for the start-up bench. Compiled in only with the CMake option
// TARNELL_BENCH_PHASES; without it StampBenchPhase is an empty inline function and the program is unchanged.
//
// The stamps are milliseconds since the process was created (GetProcessTimes), kept in a small named
// shared-memory section, BenchPhaseSectionName(process id), that bench/startup_bench.cpp reads while the
// window is still open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tarnell {

enum class BenchPhase : uint32_t { Imports, FormCreated, Decoration, Discovery, Shown, Count };

inline constexpr const char* kBenchPhaseNames[] = {"imports", "form created", "decoration", "discovery",
                                                   "shown"};

struct BenchPhaseBlock {
    static constexpr uint32_t kMagic = 0x53485054;  // "TPHS"
    uint32_t magic;
    uint32_t stamped;  // bit i set once phase i is stamped
    double ms[static_cast<size_t>(BenchPhase::Count)];
};

inline std::wstring BenchPhaseSectionName(DWORD processId) {
    return L"Local\\TarnellBenchPhases." + std::to_wstring(processId);
}

#ifdef TARNELL_BENCH_PHASES
void StampBenchPhase(BenchPhase phase);
#else
inline void StampBenchPhase(BenchPhase) {}
#endif

}  // namespace tarnell
