// Win32 glue shared by the crash module's three files: catching (crash_catch_win32.cpp), the report
// pipeline (crash_pipeline_win32.cpp) and the box with its close action (crash_box_win32.cpp).
#pragma once

#include <windows.h>

#include <string>

#include "base/own_files_win32.h"
#include "crash/crash_report.h"
#include "crash/crash_win32.h"

namespace tarnell::crash {

// Return addresses kept for the place a C++ exception was thrown.
inline constexpr unsigned kThrowFrames = 32;

// One exception to report. Plain data: a faulting thread fills it on whatever stack it has left.
struct Request {
    bool structured = false;
    EXCEPTION_POINTERS* pointers = nullptr;  // record and context of the faulting thread
    DWORD threadId = 0;
    const char* type = "";                  // C++ type, for a C++ exception or a C runtime failure
    const char* message = "";               // its message
    const void* const* thrownAt = nullptr;  // return addresses where it was thrown, innermost first
    unsigned thrownAtCount = 0;
};

// The settings given at installation (empty ones before).
const CrashSettings& Settings();
bool Headless();

// ----- the report pipeline --------------------------------------------------------------------------

// A builder thread that faults ends with this code and the report falls back to the exception's part.
inline constexpr DWORD kBuilderFaulted = 0xDEAD;
// True on a thread that builds a report (known by id: the filter may not touch thread-local storage).
bool IsBuilderThread(DWORD id);

// Builds the report on threads of its own, files it in bugreport.txt, then sends it and takes it out of
// the file once the endpoint has it. Returns at once; the work is drained at exit (DrainWorkers).
void StartReport(const Request& request, bool dump);
// The box's message for a structured exception, computed without the loader or dbghelp.
std::string StructuredMessageOf(const Request& request);
// Waits until no minidump is being written, or `deadline` (GetTickCount64) has passed.
void WaitForDump(ULONGLONG deadline);
// The report file's name in its folder, and the stem of a second file's name (bugreport-<unique>.txt)
// where bugreport.txt cannot take a report.
inline constexpr wchar_t kReportName[] = L"bugreport.txt";
inline constexpr wchar_t kReportStem[] = L"bugreport";

// Where reports and minidumps go, worked out at installation (the fatal path allocates nothing): the
// user's %LOCALAPPDATA%\Tarnell, and the program's own %ProgramData%\Tarnell, made for administrators and
// the system only, when the user's cannot be used. Either is empty when unknown or not a local path.
struct ReportFolders {
    wchar_t user[MAX_PATH] = {};
    wchar_t machine[MAX_PATH] = {};
    SECURITY_DESCRIPTOR adminsOnly{};
    alignas(8) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    alignas(8) BYTE system[SECURITY_MAX_SID_SIZE] = {};
    alignas(8) BYTE acl[256] = {};
};
// Works the folders out from the environment and the machine's settings.
void SetReportFilePath();
// Puts the folders under these two bases (each gets \Tarnell); an empty or non-local base is not used.
void SetReportFolders(const wchar_t* localAppData, const wchar_t* programData);
// Opens, makes if need be and checks the report folder: `which` 1 the user's, 2 the machine's, 0 the
// first of them that can be used. Returns which one was opened, 0 for none.
int OpenReportFolder(OwnFolder& folder, int which = 0);

// ----- the box and the close action -----------------------------------------------------------------

// Shows the application's error box (its only button "Close") and returns when it was closed.
void ShowBox(const std::u16string& message);
// On a thread of its own: the box for an error that ends the process, then the close-application
// action. Signals `shown` once the box's window exists. False when no thread could be started.
bool StartFatalBox(const Request& request, const CrashDecision& decision, HANDLE shown);
// Without a window: what is in flight gets its bound, then the process ends with the command's code.
[[noreturn]] void EndHeadless();
// The thread that shows the fatal box, 0 before; a fault there ends the process at once.
DWORD FatalBoxThreadId();

}  // namespace tarnell::crash
