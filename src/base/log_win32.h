// Win32 glue only: the program's log, %LOCALAPPDATA%\Tarnell\tarnell.log, with one older file kept
// (tarnell.log.1) and each capped at kLogCap bytes. A line is queued by the caller and written by a pool
// thread, so no caller ever waits on the disk; a file that cannot be written (locked, read-only, a folder
// or a link planted in its place) loses lines, never the program. The file is opened as the crash
// report's files are (base/own_files_win32.h): nothing is written through a link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnell {

inline constexpr uint64_t kLogCap = 256 * 1024;

// Where the log goes: a folder (created when missing). Lines made before are kept and written there.
// Empty: nowhere (the lines are still kept for the crash report).
void OpenLog(const std::wstring& folder);
// The user's %LOCALAPPDATA%\Tarnell; empty when it cannot be told.
std::wstring UserLogFolder();

// One event. Nothing personal beyond what the crash report names already.
void Log(std::u16string_view text);
// A failure that was handled quietly: "what: error N" with the system's text for a Win32 error or an
// HRESULT.
void LogFailure(std::u16string_view what, unsigned long code);

// Waits at most `timeoutMs` until every line made so far is written (at exit). False when it is not.
bool FlushLog(unsigned timeoutMs);

// The last lines made (up to 50), for the crash report. Never waits: false when the log is in use this
// very moment.
bool LogTail(std::string& out);

}  // namespace tarnell
