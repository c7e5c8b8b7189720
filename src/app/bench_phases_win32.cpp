#include "app/bench_phases_win32.h"

namespace tarnell {

namespace {

struct PhaseClock {
    BenchPhaseBlock* block = nullptr;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER anchorCount{};
    double anchorMs = 0;  // process creation to anchorCount
};

// Created at the first stamp. The section stays mapped until the process ends, so the bench can read it
// while the window is open.
PhaseClock& Clock() {
    static PhaseClock clock = [] {
        PhaseClock c;
        QueryPerformanceFrequency(&c.frequency);
        FILETIME created{}, exited{}, kernel{}, user{}, now{};
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        GetSystemTimePreciseAsFileTime(&now);
        QueryPerformanceCounter(&c.anchorCount);
        ULARGE_INTEGER a, b;
        a.LowPart = created.dwLowDateTime;
        a.HighPart = created.dwHighDateTime;
        b.LowPart = now.dwLowDateTime;
        b.HighPart = now.dwHighDateTime;
        c.anchorMs = b.QuadPart > a.QuadPart ? double(b.QuadPart - a.QuadPart) / 10000.0 : 0.0;
        const std::wstring name = BenchPhaseSectionName(GetCurrentProcessId());
        HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            DWORD(sizeof(BenchPhaseBlock)), name.c_str());
        if (section) {
            c.block = static_cast<BenchPhaseBlock*>(
                MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(BenchPhaseBlock)));
            if (c.block) {
                c.block->stamped = 0;
                c.block->magic = BenchPhaseBlock::kMagic;
            }
        }
        return c;
    }();
    return clock;
}

}  // namespace

void StampBenchPhase(BenchPhase phase) {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    PhaseClock& c = Clock();
    const auto i = static_cast<uint32_t>(phase);
    if (!c.block || i >= static_cast<uint32_t>(BenchPhase::Count)) return;
    // The first stamp also sets up the clock, after its own count was taken: a negative delta is clamped.
    const double sinceAnchor =
        count.QuadPart > c.anchorCount.QuadPart
            ? 1000.0 * double(count.QuadPart - c.anchorCount.QuadPart) / double(c.frequency.QuadPart)
            : 0.0;
    c.block->ms[i] = c.anchorMs + sinceAnchor;
    c.block->stamped |= 1u << i;
}

}  // namespace tarnell
