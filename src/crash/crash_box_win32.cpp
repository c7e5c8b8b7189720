// The box and the close-application action: the error box every error shows (its only button "Close"),
// and what "Close" does after an error that ends the process.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/shell_open_win32.h"
#include "base/single_instance_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_report.h"
#include "crash/crash_win32.h"

namespace tarnell::crash {

namespace {

std::atomic<DWORD> g_boxThreadId{0};
HANDLE g_shown = nullptr;  // signalled once the fatal box's window exists

// The system's message box, its one button renamed "Close" before it is shown.
LRESULT CALLBACK RenameOkHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wp);
        if (HWND ok = GetDlgItem(box, IDOK)) SetWindowTextW(ok, L"Close");
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

void ShowSystemBox(const std::u16string& message) {
    HHOOK hook = SetWindowsHookExW(WH_CBT, RenameOkHook, nullptr, GetCurrentThreadId());
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(message.c_str()), L"Tarnell",
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
    if (hook) UnhookWindowsHookEx(hook);
}

struct FatalBox {
    std::u16string message;
    CrashDecision decision;
};

// Every top-level window of the process goes from the screen at once, without waiting for its thread
// (which may be the one that faulted): nothing more can be started from it.
void HideWindows() {
    EnumWindows(
        [](HWND hwnd, LPARAM) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd)) ShowWindowAsync(hwnd, SW_HIDE);
            return TRUE;
        },
        0);
}

ULONGLONG Remaining(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? deadline - now : 0;
}

// The close-application action: the window and the guard go at once, the error page opens through the
// shell, the reports get what is left of kCloseBoundMs, and the process ends.
[[noreturn]] void CloseApplication(const CrashDecision& decision) {
    const ULONGLONG deadline = GetTickCount64() + kCloseBoundMs;
    HideWindows();
    ReleaseSingleInstance();  // a new start may open its window while this one finishes its reports
    if (decision.errorPage) {
        // On a worker, so a shell that does not answer costs no more than the bound. The shell is loaded
        // by hand first: it is a delayed import, and a failed delayed load would raise an exception here.
        if (LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            const std::u16string page = Settings().errorPageUrl;
            StartWorker([page] { ShellOpen(page); });
        }
    }
    DrainWorkers(unsigned(Remaining(deadline)));
    WaitForDump(deadline);
    TerminateProcess(GetCurrentProcess(), decision.exitCode);
    ExitProcess(decision.exitCode);
}

// Tells the faulting thread that the box is on the screen: from then on a person ends the process.
LRESULT CALLBACK BoxShownHook(int code, WPARAM wp, LPARAM lp) {
    // The box's window exists: what this thread needed from the heap and the loader, it got.
    if (code == HCBT_CREATEWND && g_shown) SetEvent(g_shown);
    return CallNextHookEx(nullptr, code, wp, lp);
}

DWORD WINAPI FatalBoxThread(void* param) {
    std::unique_ptr<FatalBox> box(static_cast<FatalBox*>(param));
    HHOOK hook = SetWindowsHookExW(WH_CBT, BoxShownHook, nullptr, GetCurrentThreadId());
    try {
        ShowBox(box->message);
    } catch (...) {
    }
    if (hook) UnhookWindowsHookEx(hook);
    CloseApplication(box->decision);
}

struct FatalStart {
    Request request;
    CrashDecision decision;
};

// The message is made here, on the box's thread: the crash thread that starts it has a small stack.
DWORD WINAPI FatalStartThread(void* param) {
    std::unique_ptr<FatalStart> start(static_cast<FatalStart*>(param));
    const std::string message =
        start->request.structured ? StructuredMessageOf(start->request) : std::string(start->request.message);
    return FatalBoxThread(new FatalBox{Utf8ToUtf16(message), start->decision});
}

}  // namespace

void ShowBox(const std::u16string& message) {
    const CrashSettings& settings = Settings();
    if (settings.showBox) {
        settings.showBox(message);
        return;
    }
    ShowSystemBox(message);
}

bool StartFatalBox(const Request& request, const CrashDecision& decision, HANDLE shown) {
    g_shown = shown;
    auto* start = new FatalStart{request, decision};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, FatalStartThread, start, CREATE_SUSPENDED, &id);
    if (!thread) {
        delete start;
        return false;
    }
    g_boxThreadId = id;
    ResumeThread(thread);
    CloseHandle(thread);
    return true;
}

DWORD FatalBoxThreadId() {
    return g_boxThreadId.load();
}

[[noreturn]] void EndHeadless() {
    const ULONGLONG deadline = GetTickCount64() + kCloseBoundMs;
    DrainWorkers(unsigned(Remaining(deadline)));
    WaitForDump(deadline);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    ExitProcess(kCrashExitCode);
}

}  // namespace tarnell::crash
