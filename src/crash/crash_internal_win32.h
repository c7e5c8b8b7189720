// Win32 glue shared by the crash module's files: what one report is made from, collecting it, and
// getting it out of the process.
#pragma once

#include <windows.h>

#include <string>

#include "crash/crash_report.h"

namespace tarnell::crash {

// One exception to report. Plain data: a faulting thread fills it on whatever stack it has left.
struct Request {
    bool structured = false;
    EXCEPTION_POINTERS* pointers = nullptr;  // record and context of the faulting thread
    DWORD threadId = 0;
    const char* type = "";     // C++ type, for a C++ exception or a C runtime failure
    const char* message = "";  // its message
};

// The exception's own part of the report (time, versions, exception, code bytes): cheap and safe.
CrashReport DescribeRequest(const Request& request);
// Adds threads, modules and processes, and names the minidump `dumpPath` (when not empty).
void CollectProcessState(const Request& request, CrashReport& report, const std::wstring& dumpPath);
// Writes the minidump (normal, with thread information); false when it could not.
bool WriteDump(const Request& request, const std::wstring& dumpPath);

// Posts the report (UTF-8 text) to `url`; true when the server answered 2xx.
bool PostReport(const std::u16string& url, const std::string& report, DWORD timeoutMs);
// Appends the report to bugreport.txt, keeping the file within its cap.
void AppendToReportFile(const std::string& report);

}  // namespace tarnell::crash
