// The start-up stamps of a bench build (TARNELL_BENCH_PHASES): see base/bench_phases_win32.h.
#include "base/bench_phases_win32.h"

namespace tarnell {

namespace {

struct PhaseClock {
    BenchPhaseBlock* block = nullptr;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER anchorCount{};
    double anchorMs = 0;  // process creation to anchorCount
    DWORD uiThread = 0;   // the thread of the first stamp (wWinMain's)
};

// Created at the first stamp. The section stays mapped until the process ends, so the bench can read it
// while the window is open.
PhaseClock& Clock() {
    static PhaseClock clock = [] {
        PhaseClock c;
        QueryPerformanceFrequency(&c.frequency);
        c.uiThread = GetCurrentThreadId();
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
                *c.block = BenchPhaseBlock{};
                c.block->magic = BenchPhaseBlock::kMagic;
            }
        }
        return c;
    }();
    return clock;
}

int64_t Now() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

bool Shown(const PhaseClock& c) {
    return c.block && (c.block->stamped & (1u << static_cast<uint32_t>(BenchPhase::Shown)));
}

}  // namespace

void StampBenchPhase(BenchPhase phase) {
    const int64_t count = Now();
    PhaseClock& c = Clock();
    const auto i = static_cast<uint32_t>(phase);
    if (!c.block || i >= static_cast<uint32_t>(BenchPhase::Count)) return;
    // The first stamp also sets up the clock, after its own count was taken: a negative delta is clamped.
    const double sinceAnchor =
        count > c.anchorCount.QuadPart
            ? 1000.0 * double(count - c.anchorCount.QuadPart) / double(c.frequency.QuadPart)
            : 0.0;
    c.block->ms[i] = c.anchorMs + sinceAnchor;
    c.block->stamped |= 1u << i;
}

// The costs are summed on the UI thread only (start-up runs there); another thread's work is not counted.
namespace {
thread_local BenchCostScope* innermost = nullptr;
}

BenchCostScope::BenchCostScope(BenchCost cost) : cost_(cost), start_(Now()), outer_(innermost) {
    if (outer_) outer_->Add(start_, false);
    innermost = this;
}

BenchCostScope::~BenchCostScope() {
    const int64_t end = Now();
    Add(end, true);
    innermost = outer_;
    if (outer_) outer_->start_ = end;
}

void BenchCostScope::Add(int64_t now, bool done) {
    PhaseClock& c = Clock();
    if (c.block && !Shown(c) && GetCurrentThreadId() == c.uiThread) {
        const auto i = static_cast<uint32_t>(cost_);
        c.block->costMs[i] += 1000.0 * double(now - start_) / double(c.frequency.QuadPart);
        if (done) ++c.block->costCount[i];
    }
    start_ = now;
}

}  // namespace tarnell
