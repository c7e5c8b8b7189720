// Start-up and memory of a program against the empty window of its size and against the floor (the platform
// work the job itself needs), alternating runs; or the start-up phases of a tarnell.exe built with
// TARNELL_BENCH_PHASES.
//
//   startup_bench.exe RUNS PROGRAM BASELINE [FLOOR]
//   startup_bench.exe phases RUNS PROGRAM
//   startup_bench.exe steady RUNS PROGRAM FLOOR
//
// Each run: CreateProcess, then poll until the process has a visible top-level window and has gone idle
// (WaitForInputIdle); that moment is the start-up time. Then, once idle, the private bytes and the working
// set; then WM_CLOSE and wait for the process to end (so a single-instance program can start again).
// One untimed start of each program first, so the first timed run does not pay for Wine's desktop and
// caches. Prints one row per program with medians, then the ratios program / baseline and program / floor,
// each on one line of the form "ratio vs floor  start-up 1.23  private bytes 1.31  working set 1.12".
// In the phases mode each run also reads the program's phase stamps (ms since process creation) from its
// shared-memory section before the window is closed, and prints the median of each phase and of each
// cost (time spent in one kind of work during start-up, wherever it happened).
// The steady mode reads the memory and the thread count 5 s after start-up instead of 0.5 s (the service
// check is over by then), for the program and the floor alternately.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bench_phases_win32.h"

namespace {

constexpr size_t kPhaseCount = static_cast<size_t>(tarnell::BenchPhase::Count);
constexpr size_t kCostCount = static_cast<size_t>(tarnell::BenchCost::Count);

struct Sample {
    double startMs = 0;
    double privateKb = 0;
    double workingSetKb = 0;
    double threads = 0;
    bool phasesRead = false;
    double phaseMs[kPhaseCount] = {};
    double costMs[kCostCount] = {};
    double costCount[kCostCount] = {};
};

double ThreadCount(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    double count = 0;
    THREADENTRY32 entry{sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == processId) ++count;
    CloseHandle(snapshot);
    return count;
}

// The program's phase stamps; false when it has no section (not built with the phases) or missed a phase.
bool ReadPhases(DWORD processId, Sample& out) {
    const std::wstring name = tarnell::BenchPhaseSectionName(processId);
    HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (!section) return false;
    bool ok = false;
    if (auto* block = static_cast<const tarnell::BenchPhaseBlock*>(
            MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(tarnell::BenchPhaseBlock)))) {
        const uint32_t all = (1u << kPhaseCount) - 1;
        if (block->magic == tarnell::BenchPhaseBlock::kMagic && (block->stamped & all) == all) {
            std::copy(block->ms, block->ms + kPhaseCount, out.phaseMs);
            std::copy(block->costMs, block->costMs + kCostCount, out.costMs);
            std::copy(block->costCount, block->costCount + kCostCount, out.costCount);
            ok = true;
        }
        UnmapViewOfFile(block);
    }
    CloseHandle(section);
    return ok;
}

struct FindWindowData {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND hwnd, LPARAM lp) {
    auto* data = reinterpret_cast<FindWindowData*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == data->pid && IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER)) {
        data->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

bool RunOnce(const std::wstring& program, Sample& out, DWORD settleMs = 500) {
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + program + L"\"";
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    FindWindowData data{pi.dwProcessId, nullptr};
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (!data.found && GetTickCount64() < deadline) {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&data));
        if (!data.found) Sleep(1);
    }
    bool ok = data.found != nullptr;
    if (!ok) std::fprintf(stderr, "no visible window within 30 s\n");
    if (ok) {
        WaitForInputIdle(pi.hProcess, 10000);
        QueryPerformanceCounter(&t1);
        out.startMs = 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
        Sleep(settleMs);  // settle: start-up work handed to workers finishes
        PROCESS_MEMORY_COUNTERS_EX pmc{};
        pmc.cb = sizeof pmc;
        GetProcessMemoryInfo(pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
        // Wine leaves PrivateUsage at 0; its PagefileUsage is the same figure (private committed bytes).
        out.privateKb = double(pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage) / 1024.0;
        out.workingSetKb = double(pmc.WorkingSetSize) / 1024.0;
        out.threads = ThreadCount(pi.dwProcessId);
        out.phasesRead = ReadPhases(pi.dwProcessId, out);
        PostMessageW(data.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "still running 10 s after WM_CLOSE\n");
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        ok = false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ok;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Medians {
    double startMs, privateKb, workingSetKb, threads;
};

Medians Summarise(const std::vector<Sample>& samples) {
    std::vector<double> s, p, w, t;
    for (const auto& x : samples) {
        s.push_back(x.startMs);
        p.push_back(x.privateKb);
        w.push_back(x.workingSetKb);
        t.push_back(x.threads);
    }
    return {Median(s), Median(p), Median(w), Median(t)};
}

int Phases(int runs, const std::wstring& program) {
    std::vector<double> phases[kPhaseCount];
    std::vector<double> costs[kCostCount], counts[kCostCount];
    for (int i = 0; i < runs; ++i) {
        Sample a;
        if (!RunOnce(program, a)) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        if (!a.phasesRead) {
            std::fprintf(
                stderr, "run %d: no phase stamps (is the program built with TARNELL_BENCH_PHASES?)\n", i + 1);
            return 1;
        }
        for (size_t p = 0; p < kPhaseCount; ++p) phases[p].push_back(a.phaseMs[p]);
        for (size_t c = 0; c < kCostCount; ++c) {
            costs[c].push_back(a.costMs[c]);
            counts[c].push_back(a.costCount[c]);
        }
    }
    std::printf("phase          ms since process creation, median of %d (min-max)   step\n", runs);
    double previous = 0;
    for (size_t p = 0; p < kPhaseCount; ++p) {
        const auto [lo, hi] = std::minmax_element(phases[p].begin(), phases[p].end());
        const double m = Median(phases[p]);
        std::printf("%-14s %8.1f (%.1f-%.1f)   %+8.1f\n", tarnell::kBenchPhaseNames[p], m, *lo, *hi,
                    m - previous);
        previous = m;
    }
    std::printf("cost                ms during start-up, median of %d (min-max)   times\n", runs);
    for (size_t c = 0; c < kCostCount; ++c) {
        const auto [lo, hi] = std::minmax_element(costs[c].begin(), costs[c].end());
        std::printf("%-19s %8.1f (%.1f-%.1f)   %5.0f\n", tarnell::kBenchCostNames[c], Median(costs[c]), *lo,
                    *hi, Median(counts[c]));
    }
    return 0;
}

// Memory and threads once the program has settled, against the floor, alternating.
int Steady(int runs, const std::wstring& program, const std::wstring& floor) {
    std::vector<Sample> samples[2];
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < 2; ++p) {
            Sample a;
            if (!RunOnce(p == 0 ? program : floor, a, 5000)) {
                std::fprintf(stderr, "run %d failed\n", i + 1);
                return 1;
            }
            samples[p].push_back(a);
        }
    }
    const Medians t = Summarise(samples[0]), f = Summarise(samples[1]);
    std::printf("%-10s %8s %14s %14s %8s   (5 s after start-up)\n", "program", "runs", "private KiB",
                "working set KiB", "threads");
    std::printf("%-10s %8d %14.0f %14.0f %8.0f\n", "tarnell", runs, t.privateKb, t.workingSetKb, t.threads);
    std::printf("%-10s %8d %14.0f %14.0f %8.0f\n", "floor", runs, f.privateKb, f.workingSetKb, f.threads);
    std::printf("steady ratio vs floor  private bytes %.2f  working set %.2f\n", t.privateKb / f.privateKb,
                t.workingSetKb / f.workingSetKb);
    return 0;
}

void PrintRow(const char* name, int runs, const Medians& m) {
    std::printf("%-10s %8d %14.1f %14.0f %14.0f %8.0f\n", name, runs, m.startMs, m.privateKb, m.workingSetKb,
                m.threads);
}

void PrintRatios(const char* against, const Medians& m, const Medians& base) {
    std::printf("ratio vs %s  start-up %.2f  private bytes %.2f  working set %.2f\n", against,
                m.startMs / base.startMs, m.privateKb / base.privateKb, m.workingSetKb / base.workingSetKb);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"phases") return Phases(std::max(1, _wtoi(argv[2])), argv[3]);
    if (argc == 5 && std::wstring(argv[1]) == L"steady")
        return Steady(std::max(1, _wtoi(argv[2])), argv[3], argv[4]);
    if (argc < 4 || argc > 5) {
        std::fprintf(
            stderr,
            "usage: startup_bench RUNS PROGRAM BASELINE [FLOOR] | startup_bench phases RUNS PROGRAM | "
            "startup_bench steady RUNS PROGRAM FLOOR\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    std::vector<std::wstring> programs = {argv[2], argv[3]};
    if (argc == 5) programs.push_back(argv[4]);
    for (const std::wstring& program : programs) {
        Sample warmUp;
        if (!RunOnce(program, warmUp)) {
            std::fprintf(stderr, "warm-up start failed\n");
            return 1;
        }
    }
    std::vector<std::vector<Sample>> samples(programs.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t p = 0; p < programs.size(); ++p) {
            Sample a;
            if (!RunOnce(programs[p], a)) {
                std::fprintf(stderr, "run %d failed\n", i + 1);
                return 1;
            }
            samples[p].push_back(a);
        }
    }
    std::vector<Medians> m;
    for (const auto& s : samples) m.push_back(Summarise(s));
    std::printf("%-10s %8s %14s %14s %14s %8s\n", "program", "runs", "start-up ms", "private KiB",
                "working set KiB", "threads");
    PrintRow("tarnell", runs, m[0]);
    PrintRow("empty", runs, m[1]);
    if (m.size() > 2) PrintRow("floor", runs, m[2]);
    PrintRatios("empty window", m[0], m[1]);
    if (m.size() > 2) PrintRatios("floor", m[0], m[2]);
    return 0;
}
