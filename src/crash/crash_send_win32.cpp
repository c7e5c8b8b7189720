// Getting a report out: a POST over WinHTTP (loaded from the system folder at run time, so the crash
// module adds no import), and the capped report file in the per-user local application data folder.
// clang-format off
#include <windows.h>  // before <winhttp.h> and <shlobj.h>
#include <winhttp.h>
#include <shlobj.h>
// clang-format on

#include <mutex>

#include "base/wide.h"
#include "crash/crash_internal_win32.h"
#include "crash/crash_win32.h"

namespace tarnell {

namespace {

struct WinHttp {
    decltype(&WinHttpOpen) open = nullptr;
    decltype(&WinHttpCrackUrl) crackUrl = nullptr;
    decltype(&WinHttpConnect) connect = nullptr;
    decltype(&WinHttpOpenRequest) openRequest = nullptr;
    decltype(&WinHttpSetTimeouts) setTimeouts = nullptr;
    decltype(&WinHttpSendRequest) sendRequest = nullptr;
    decltype(&WinHttpReceiveResponse) receiveResponse = nullptr;
    decltype(&WinHttpQueryHeaders) queryHeaders = nullptr;
    decltype(&WinHttpCloseHandle) closeHandle = nullptr;

    WinHttp() {
        HMODULE module = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) return;
        Get(module, open, "WinHttpOpen");
        Get(module, crackUrl, "WinHttpCrackUrl");
        Get(module, connect, "WinHttpConnect");
        Get(module, openRequest, "WinHttpOpenRequest");
        Get(module, setTimeouts, "WinHttpSetTimeouts");
        Get(module, sendRequest, "WinHttpSendRequest");
        Get(module, receiveResponse, "WinHttpReceiveResponse");
        Get(module, queryHeaders, "WinHttpQueryHeaders");
        Get(module, closeHandle, "WinHttpCloseHandle");
    }
    template <typename Fn>
    static void Get(HMODULE module, Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Complete() const {
        return open && crackUrl && connect && openRequest && setTimeouts && sendRequest && receiveResponse &&
               queryHeaders && closeHandle;
    }
};

const WinHttp& Http() {
    static const WinHttp http;
    return http;
}

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
    const WinHttp& http = Http();
    if (!http.Complete()) return false;
    std::wstring wideUrl = ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        DWORD(-1);
    if (!http.crackUrl(wideUrl.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    bool sent = false;
    HINTERNET session = http.open(L"Tarnell crash report", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = nullptr, request = nullptr;
    if (session) {
        const int t = int(timeoutMs);
        http.setTimeouts(session, t, t, t, t);
        connection = http.connect(session, host.c_str(), parts.nPort, 0);
    }
    if (connection) {
        request = http.openRequest(connection, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    }
    if (request) {
        static const wchar_t kHeaders[] = L"Content-Type: text/plain; charset=utf-8";
        DWORD status = 0, size = sizeof status;
        sent = http.sendRequest(request, kHeaders, DWORD(-1), const_cast<char*>(report.data()),
                                DWORD(report.size()), DWORD(report.size()), 0) &&
               http.receiveResponse(request, nullptr) &&
               http.queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
               status >= 200 && status < 300;
    }
    if (request) http.closeHandle(request);
    if (connection) http.closeHandle(connection);
    if (session) http.closeHandle(session);
    return sent;
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
