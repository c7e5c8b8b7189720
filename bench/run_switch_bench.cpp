// Run switch figures of the running tarnell.exe, driven from outside as a user would, with the probe on the
// loopback fixture server (tests/app/loopback_server.py), steered through its control files:
//  - click to running look: from posting the click on the run switch to the switch enabled again with its
//    running caption, the probe answering at once; then the click back to the idle look (median of ROUNDS);
//  - the UI thread's longest stall while a wait with a failing probe runs: WM_NULL is sent to the main window
//    with SendMessageTimeout every few milliseconds and the longest reply time is kept, once from the click
//    until the first probe reaches the server (values written, adapter cycled) and once for the wait itself.
// Usage: run_switch_bench PROGRAM LOOPBACK_DIR [ROUNDS] [STALL_SECONDS]   (Windows paths)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "window_search_win32.h"

using namespace tarnell;

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool WriteControlFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Probe requests the server has dropped so far (lines of its log ending in " dropped").
int DroppedProbes(const std::wstring& logPath) {
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::string text;
    char buffer[16384];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    int count = 0;
    for (size_t at = text.find(" dropped\n"); at != std::string::npos; at = text.find(" dropped\n", at + 1))
        ++count;
    return count;
}

std::wstring Caption(HWND hwnd) {
    wchar_t buffer[128] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 10000, nullptr);
    return buffer;
}

void Click(HWND hwnd) {
    outside::PostClick(hwnd);
}

// Clicks the switch and returns the milliseconds until it is enabled again with a caption other than
// `from` (the busy look disables it and clears the caption in between); negative after `limitMs`.
double ClickUntilSettled(HWND button, const std::wstring& from, double limitMs) {
    const double start = Now();
    Click(button);
    bool left = false;  // the busy look (disabled) was seen
    double lastCaptionCheck = start;
    while (Now() - start < limitMs) {
        if (!IsWindowEnabled(button)) {
            left = true;
        } else if (left) {
            const double settled = Now() - start;
            if (Caption(button) != from) return settled;
            left = false;
        } else if (Now() - lastCaptionCheck > 50) {
            // A busy look too short to be seen: the caption tells.
            lastCaptionCheck = Now();
            if (Caption(button) != from) return Now() - start;
        }
        Sleep(1);
    }
    return -1;
}

// The longest reply of the UI thread to WM_NULL over the sampling; `until` ends it.
template <typename Until>
double LongestReply(HWND form, Until until, int& samples) {
    double longest = 0;
    samples = 0;
    while (!until()) {
        const double sent = Now();
        DWORD_PTR result = 0;
        SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result);
        longest = std::max(longest, Now() - sent);
        ++samples;
        Sleep(5);
    }
    return longest;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_switch_bench PROGRAM LOOPBACK_DIR [ROUNDS] [STALL_SECONDS]\n");
        return 2;
    }
    const std::wstring program = argv[1], loopback = argv[2];
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 20;
    const double stallMs = (argc > 4 ? std::max(1, _wtoi(argv[4])) : 5) * 1000.0;
    const std::wstring probeMode = loopback + L"\\probe_mode", log = loopback + L"\\loopback.log";

    // A fresh start in the idle look, the service saying nothing, the probe answering at once.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
    if (!WriteControlFile(loopback + L"\\service_answer", "{}") || !WriteControlFile(probeMode, "answer")) {
        std::fprintf(stderr, "cannot write the loopback server's control files\n");
        return 1;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        std::fprintf(stderr, "cannot start the program\n");
        return 1;
    }
    HWND form = nullptr;
    for (int i = 0; i < 600 && !(form && IsWindowVisible(form)); ++i) {
        form = outside::FindForm(pi.dwProcessId);
        Sleep(100);
    }
    HWND button = form ? outside::FindControl(form, u"BtnStart") : nullptr;
    int rc = 0;
    if (!button) {
        std::fprintf(stderr, "no main window or run switch\n");
        rc = 1;
    } else {
        WaitForInputIdle(pi.hProcess, 10000);
        Sleep(1000);
        const std::wstring idle = Caption(button);
        std::vector<double> toRunning, toIdle;
        for (int i = 0; i < rounds && rc == 0; ++i) {
            const double up = ClickUntilSettled(button, idle, 60000);
            const std::wstring running = Caption(button);
            const double down = up < 0 ? -1 : ClickUntilSettled(button, running, 60000);
            if (up < 0 || down < 0) {
                std::fprintf(stderr, "round %d: the switch did not settle\n", i + 1);
                rc = 1;
                break;
            }
            toRunning.push_back(up);
            toIdle.push_back(down);
            Sleep(200);
        }

        // A wait whose probe fails: its first dropped probe ends the click's own handling.
        int clickSamples = 0, waitSamples = 0;
        double clickLongest = 0, waitLongest = 0;
        if (rc == 0) {
            WriteControlFile(probeMode, "drop");
            const int droppedBefore = DroppedProbes(log);
            Click(button);
            const double clicked = Now();
            clickLongest = LongestReply(
                form, [&] { return DroppedProbes(log) > droppedBefore || Now() - clicked > 60000; },
                clickSamples);
            const double waitStart = Now();
            waitLongest = LongestReply(
                form, [&] { return Now() - waitStart > stallMs; }, waitSamples);
            const int probesDuringWait = DroppedProbes(log) - droppedBefore;
            // Let the wait end and go back to idle.
            WriteControlFile(probeMode, "answer");
            for (int i = 0; i < 600 && !IsWindowEnabled(button); ++i) Sleep(50);
            const std::wstring running = Caption(button);
            ClickUntilSettled(button, running, 60000);

            std::printf("%-18s %8s %14s %14s %14s\n", "run switch", "rounds", "median ms", "min ms",
                        "max ms");
            auto row = [](const char* name, const std::vector<double>& v) {
                std::printf("%-18s %8zu %14.1f %14.1f %14.1f\n", name, v.size(), Median(v),
                            *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
            };
            row("click to running", toRunning);
            row("click to idle", toIdle);
            std::printf("%-18s %8s %14s\n", "UI thread stall", "replies", "longest ms");
            std::printf("%-18s %8d %14.1f   (%.0f s, %d failed probes; target <= 50)\n", "during the wait",
                        waitSamples, waitLongest, stallMs / 1000, probesDuringWait);
            std::printf("%-18s %8d %14.1f   (from the click to the first probe)\n", "the click", clickSamples,
                        clickLongest);
        }
    }
    if (form) PostMessageW(form, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 15000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DeleteFileW(probeMode.c_str());
    DeleteFileW((loopback + L"\\service_answer").c_str());
    return rc;
}
