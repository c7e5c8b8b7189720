#include "base/log_win32.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/own_files_win32.h"
#include "base/wide.h"

namespace tarnell {

namespace {

constexpr wchar_t kLogName[] = L"tarnell.log";
constexpr wchar_t kOlderName[] = L"tarnell.log.1";

// Lives for the whole process and is never destroyed: a pool thread still writing when the process ends
// must find it whole.
struct LogState {
    TLogQueue queue;
    std::mutex file;  // one writer at a time, in the order the lines were queued
    std::mutex folderMutex;
    std::wstring folder;
    std::atomic<bool> opened{false};  // OpenLog named a folder: lines can be written
    std::atomic<bool> scheduled{false};
    std::atomic<int> writing{0};
    std::mutex idleMutex;
    std::condition_variable idle;
};

LogState& State() {
    static LogState* state = new LogState();
    return *state;
}

TUtcTime Now() {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::wstring Folder() {
    LogState& state = State();
    std::lock_guard<std::mutex> hold(state.folderMutex);
    return state.folder;
}

// Appends `batch` to the log in `folder`, first moving a full file aside as the one older file.
void Append(const std::wstring& folderPath, const std::string& batch) {
    if (folderPath.empty() || batch.empty()) return;
    OwnFolder folder;
    if (!folder.Open(folderPath.c_str())) return;
    HANDLE file = folder.OpenFile(kLogName, true);
    if (file == INVALID_HANDLE_VALUE) {
        // Missing: made new. There but not ours to write (read-only, held without sharing, a folder): the
        // lines are lost, the program goes on.
        wchar_t full[MAX_PATH];
        const std::wstring path = std::wstring(folder.Path()) + L"\\" + kLogName;
        if (path.size() >= MAX_PATH) return;
        lstrcpynW(full, path.c_str(), MAX_PATH);
        if (GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES) return;
        wchar_t used[MAX_PATH];
        folder.Replace(kLogName, batch.data(), batch.size(), L"tarnell", L".log", used);
        return;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && NeedsRollover(uint64_t(size.QuadPart), batch.size(), kLogCap)) {
        std::vector<char> older(size_t(std::min<LONGLONG>(size.QuadPart, LONGLONG(kLogCap))));
        DWORD read = 0;
        LARGE_INTEGER start{};
        if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
            ReadFile(file, older.data(), DWORD(older.size()), &read, nullptr)) {
            wchar_t used[MAX_PATH];
            folder.Replace(kOlderName, older.data(), read, L"tarnell-older", L".log", used);
        }
        SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    LARGE_INTEGER end{};
    if (SetFilePointerEx(file, end, nullptr, FILE_END)) {
        DWORD written = 0;
        WriteFile(file, batch.data(), DWORD(batch.size()), &written, nullptr);
    }
    CloseHandle(file);
}

void WriteWaiting() {
    LogState& state = State();
    {
        std::lock_guard<std::mutex> hold(state.file);
        ++state.writing;
        // Cleared before the lines are taken: a line queued from here on schedules a writer of its own,
        // which waits for this one and writes after it.
        state.scheduled = false;
        const std::wstring folder = Folder();
        if (!folder.empty()) Append(folder, state.queue.TakePending());
        --state.writing;
    }
    std::lock_guard<std::mutex> hold(state.idleMutex);
    state.idle.notify_all();
}

VOID CALLBACK WriteCallback(PTP_CALLBACK_INSTANCE, PVOID) {
    WriteWaiting();
}

void Schedule() {
    LogState& state = State();
    if (!state.opened.load() || state.scheduled.exchange(true)) return;
    // No pool thread to be had: the lines wait for the next one.
    if (!TrySubmitThreadpoolCallback(WriteCallback, nullptr, nullptr)) state.scheduled = false;
}

std::u16string SystemText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string out = n && text ? FromWide(std::wstring_view(text, n)) : std::u16string();
    LocalFree(text);
    while (!out.empty() && (out.back() == u' ' || out.back() == u'.')) out.pop_back();
    return out;
}

}  // namespace

void OpenLog(const std::wstring& folder) {
    {
        LogState& state = State();
        std::lock_guard<std::mutex> hold(state.folderMutex);
        state.folder = folder;
        state.opened = !folder.empty();
    }
    Schedule();
}

std::wstring UserLogFolder() {
    wchar_t base[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(base) + L"\\Tarnell";
}

void Log(std::u16string_view text) {
    State().queue.Add(FormatLogLine(Now(), text));
    Schedule();
}

void LogFailure(std::u16string_view what, unsigned long code) {
    char number[32];
    // HRESULTs read best in hexadecimal, Win32 errors in decimal.
    if (code & 0x80000000u) {
        wsprintfA(number, ": 0x%08lX", code);
    } else {
        wsprintfA(number, ": error %lu", code);
    }
    std::u16string line(what);
    for (const char* p = number; *p; ++p) line.push_back(char16_t(*p));
    const std::u16string system = SystemText(code);
    if (!system.empty()) line += u" (" + system + u")";
    Log(line);
}

bool FlushLog(unsigned timeoutMs) {
    LogState& state = State();
    Schedule();
    std::unique_lock<std::mutex> hold(state.idleMutex);
    return state.idle.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        return !state.scheduled.load() && state.writing.load() == 0 &&
               (!state.opened.load() || !state.queue.Waiting());
    });
}

bool LogTail(std::string& out) {
    return State().queue.TryTail(out);
}

}  // namespace tarnell
