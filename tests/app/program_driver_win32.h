// Driving the real tarnell.exe from outside for the robustness tests: starting it, finding its window and
// controls, clicking, and steering the loopback fixture server through the control files it reads at each
// request (see loopback_server.py).
#pragma once

#include <doctest/doctest.h>
// clang-format off
#include <windows.h>  // before <tlhelp32.h>
#include <tlhelp32.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../support/file_win32.h"
#include "../support/machine_registry_win32.h"
#include "../support/wait_win32.h"
#include "../support/window_search_win32.h"
#include "app/main_layout.h"
#include "base/text.h"
#include "base/wide.h"

namespace tarnell::e2e {

using outside::ClassOf;
using outside::FindTopLevel;

inline std::wstring WindowsPathOf(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        path += (*p == '/') ? L'\\' : wchar_t(static_cast<unsigned char>(*p));
    return path;
}

inline std::wstring PathFromEnv(const char* name) {
    const char* value = std::getenv(name);
    REQUIRE_MESSAGE(value, name);
    return WindowsPathOf(value);
}

using test::Lines;
using test::ReadWholeFile;
using test::WaitUntil;
using test::WriteWholeFile;

// The loopback fixture server's folder (TARNELL_LOOPBACK_DIR): its request log and control files.
class Loopback {
  public:
    Loopback() : dir_(PathFromEnv("TARNELL_LOOPBACK_DIR")) {}
    ~Loopback() {
        DeleteFileW((dir_ + L"\\probe_mode").c_str());
        DeleteFileW((dir_ + L"\\service_answer").c_str());
        DeleteFileW((dir_ + L"\\service_mode").c_str());
    }
    void SetProbeMode(const std::string& mode) { REQUIRE(WriteWholeFile(dir_ + L"\\probe_mode", mode)); }
    void SetServiceMode(const std::string& mode) { REQUIRE(WriteWholeFile(dir_ + L"\\service_mode", mode)); }
    void SetServiceAnswer(const std::string& body) {
        REQUIRE(WriteWholeFile(dir_ + L"\\service_answer", body));
    }
    std::vector<std::string> Log() const { return Lines(ReadWholeFile(dir_ + L"\\loopback.log")); }
    // Lines of the log from index `from` on that start with `prefix` (and, when given, end with `suffix`).
    int Count(size_t from, const std::string& prefix, const char* suffix = nullptr) const {
        const std::vector<std::string> log = Log();
        int count = 0;
        for (size_t i = from; i < log.size(); ++i) {
            if (log[i].rfind(prefix, 0) != 0) continue;
            const bool endsWith =
                suffix && log[i].size() >= std::strlen(suffix) &&
                log[i].compare(log[i].size() - std::strlen(suffix), std::string::npos, suffix) == 0;
            if (!suffix || endsWith) ++count;
        }
        return count;
    }
    int AnsweredProbes(size_t from) const { return Count(from, "/generate_204") - DroppedProbes(from); }
    int DroppedProbes(size_t from) const { return Count(from, "/generate_204", " dropped"); }
    size_t Size() const { return Log().size(); }

  private:
    std::wstring dir_;
};

// True while a process named like Wine's debugger (the crash handler) runs.
inline bool CrashHandlerRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"winedbg.exe") == 0) found = true;
    }
    CloseHandle(snapshot);
    return found;
}

// The program under test (TARNELL_PROGRAM), started at construction and closed, if still running, at the end.
struct Program {
    PROCESS_INFORMATION pi{};
    HWND form = nullptr;

    Program() : Program(PathFromEnv("TARNELL_PROGRAM")) {}
    explicit Program(const std::wstring& path) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        std::wstring commandLine = L"\"" + path + L"\"";
        REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    }
    ~Program() {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
            if (form) PostMessageW(form, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    HWND WaitForWindow(DWORD timeoutMs = 60000) {
        const DWORD end = GetTickCount() + timeoutMs;
        while (GetTickCount() < end && !form) {
            form = FindTopLevel(pi.dwProcessId, L"TarnellForm");
            if (!form && WaitForSingleObject(pi.hProcess, 50) != WAIT_TIMEOUT) break;
        }
        if (form) {
            // Shown, then idle: the UI thread is back in its message loop with the start-up sequence done and
            // nothing of its own input pending.
            const auto remaining = [end] {
                const DWORD now = GetTickCount();
                return now < end ? end - now : 0;
            };
            WaitUntil([this] { return IsWindowVisible(form) != FALSE; }, remaining(), 20);
            WaitForInputIdle(pi.hProcess, remaining());
            Responsive(remaining());
        }
        return form;
    }

    bool Running() const { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }

    // The UI thread answers a message within `timeoutMs`.
    bool Responsive(UINT timeoutMs = 5000) const {
        DWORD_PTR result = 0;
        return form && SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
    }

    bool WaitForExit(DWORD timeoutMs, DWORD* code = nullptr) const {
        if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
        if (code) GetExitCodeProcess(pi.hProcess, code);
        return true;
    }

    HWND Control(const char16_t* name) const {
        REQUIRE(FindControlDesc(name));
        return outside::FindControl(form, name);
    }

    // The update notice line: the status bar child of the main window, once shown.
    HWND NoticeLine() const {
        for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (lstrcmpiW(ClassOf(child).c_str(), L"msctls_statusbar32") == 0) return child;
        }
        return nullptr;
    }

    HWND Prompt() const { return FindTopLevel(pi.dwProcessId, L"#32770"); }
};

inline std::string TextOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return Utf16ToUtf8(FromWide(buffer));
}

inline void Click(HWND hwnd) {
    outside::PostClick(hwnd);
}

using test::ForgetSettings;

}  // namespace tarnell::e2e
