// Win32 glue: crash reporting. Installed as the program's first start-up step, it catches what nothing
// else caught: C++ exceptions at the window procedures', hand-over's and workers' boundary, structured
// exceptions (stack overflow included: the report is built on a thread of its own), std::terminate, pure
// virtual calls and invalid C runtime parameters. Each distinct error is reported once per run: a text
// report (with a minidump when the process ends) filed in %LOCALAPPDATA%\Tarnell\bugreport.txt first (or
// beside it, or under %ProgramData%\Tarnell, when that cannot take it), then posted in the background to
// the endpoint's own host and taken out of the file once the endpoint has it; then the error box.
//
// After a C++ exception that reached a boundary the box's "Close" only closes it and the program goes on.
// After anything else "Close" runs the close-application action: the window goes and the single-instance
// guard is released at once, the error page opens through the shell, and the process ends within
// kCloseBoundMs. Reports still in flight at a normal exit get DrainWorkers' bound; being filed first,
// ending the process at any moment loses none.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "crash/crash_report.h"

namespace tarnell {

struct CrashSettings {
    std::u16string reportUrl;     // http(s) URL the report is posted to
    std::u16string errorPageUrl;  // opened by the close-application action
    // Shows the application's error box with `message`; returns when the user closed it.
    void (*showBox)(const std::u16string& message) = nullptr;
    DWORD sendTimeoutMs = 4000;  // each of resolve, connect, send and receive
};

void InstallCrashReporting(const CrashSettings& settings);

// Without a window (the command line, the installer's step) nobody is there to close a box: an error is
// reported (filed, then sent within kCloseBoundMs), no box and no page appear, and an error that ends the
// process ends it with kCrashExitCode.
void SetCrashHeadless(bool headless);

// From "Close" after a fatal error (or a headless fatal error) to the end of the process, at most.
inline constexpr DWORD kCloseBoundMs = 10000;

// How long a thread that faulted waits for the error box to appear before it ends the process itself,
// with a short report written without the heap (the crash thread may be stuck behind a lock the faulting
// thread holds).
inline constexpr DWORD kFatalBoxBoundMs = 5000;

// What the boundaries call: reports the error once per run, shows the box and returns.
void ReportHandledException(std::exception_ptr error);

}  // namespace tarnell
