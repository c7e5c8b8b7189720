// Getting a report out: a POST through the program's HTTP client, and the capped report file in the
// per-user local application data folder.
// clang-format off
#include <windows.h>  // before <winhttp.h> and <shlobj.h>
#include <winhttp.h>
#include <shlobj.h>
// clang-format on

#include <mutex>

#include "base/http_win32.h"
#include "base/wide.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_win32.h"

namespace tarnell {

namespace {

std::mutex g_fileLock;

}  // namespace

std::wstring CrashFolder() {
    PWSTR base = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base)) && base)
        folder = std::wstring(base) + L"\\Tarnell";
    CoTaskMemFree(base);
    if (folder.empty()) return folder;
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::wstring();
    return folder;
}

namespace crash {

bool PostReport(const std::u16string& url, const std::string& report, DWORD timeoutMs) {
    // The program's one HTTP client: the user's proxy, and a limit on every phase, the wait for the
    // response included, so an endpoint that takes the report and never answers cannot hold it.
    HttpRequest request;
    request.url = url;
    request.method = L"POST";
    request.headers = {{u"Content-Type", u"text/plain; charset=utf-8"}};
    request.body = report;
    request.agent = u"Tarnell crash report";
    request.timeoutMs = timeoutMs;
    HttpResponse response;
    return SendHttpRequest(request, response) && response.status >= 200 && response.status < 300;
}

void AppendToReportFile(const std::string& report) {
    const std::wstring folder = CrashFolder();
    if (folder.empty()) return;
    const std::wstring path = folder + L"\\bugreport.txt";
    std::lock_guard<std::mutex> guard(g_fileLock);
    std::string existing;
    HANDLE in = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
        char buffer[65536];
        DWORD read = 0;
        while (ReadFile(in, buffer, sizeof buffer, &read, nullptr) && read > 0) existing.append(buffer, read);
        CloseHandle(in);
    }
    const std::string contents = AppendCapped(existing, report);
    // Written beside and moved over, so a crash while writing never leaves half a file.
    const std::wstring temporary = path + L".new";
    HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    const bool ok = WriteFile(out, contents.data(), DWORD(contents.size()), &written, nullptr) &&
                    written == contents.size();
    CloseHandle(out);
    if (!ok || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        DeleteFileW(temporary.c_str());
}

}  // namespace crash

}  // namespace tarnell
