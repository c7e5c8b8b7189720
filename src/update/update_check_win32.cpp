#include "update/update_check_win32.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>

#include "base/error_boundary_win32.h"
#include "base/http_session_win32.h"
#include "base/scoped_win.h"
#include "base/text.h"
#include "base/ui_task.h"
#include "base/wide.h"
#include "config/config.h"
#include "translate/translation.h"
#include "update/client_id.h"
#include "update/service_check.h"
#include "update/update_dialog_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_texts.h"

namespace tarnell {

namespace {

constexpr DWORD kHttpTimeoutMs = 60000;
constexpr DWORD kMaxRedirects = 5;

std::atomic<DWORD> g_httpTimeoutMs{kHttpTimeoutMs};

std::mutex g_lock;  // guards the process-wide values below
std::u16string g_updateUrl;
int g_updateOffset = 0;
HWND g_mainWindow = nullptr;
std::function<bool(int)> g_pauseHook;
std::atomic<bool> g_failThreadStart{false};

struct InternetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};
using ScopedInternet = Scoped<HINTERNET, InternetHandleTraits>;

// A header line may carry no line break or other control character: a value from the registry must
// not be able to add headers of its own.
std::wstring HeaderLine(const std::u16string& name, const std::u16string& value) {
    std::wstring line;
    line.reserve(name.size() + value.size() + 2);
    auto append = [&line](const std::u16string& text) {
        for (char16_t c : text) {
            if (c >= 0x20 && c != 0x7F) line.push_back(static_cast<wchar_t>(c));
        }
    };
    append(name);
    line += L": ";
    append(value);
    return line;
}

std::u16string UserAgent() {
    return u"Tarnell/" + GetFileVersionText();
}

bool Pause(int milliseconds) {
    std::function<bool(int)> hook;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        hook = g_pauseHook;
    }
    if (hook) return hook(milliseconds) && !IsTerminating();
    return WaitUnlessTerminating(static_cast<unsigned>(milliseconds));
}

void ShowNotice(const std::u16string& link) {
    if (HWND form = GetUpdateMainWindow())
        ShowUpdateStatus(form, GetUpdateText(TUpdateTextKind::utAvailable), link);
}

void RunCompletion(const std::u16string& data, const TUpdateProc& proc) {
    const bool flag = CompleteServiceCheck(data, {UpdateDialog, ShellOpen, ShowNotice});
    if (proc) proc(flag, data);
}

struct CheckJob {
    TUpdateProc proc;
};

// The callback of a check that ended without an answer through no fault of the service's: the thread
// could not start, or something failed inside the worker. Unless the program is terminating.
void CompleteWithNothing(const TUpdateProc& proc) {
    if (!proc || IsTerminating()) return;
    RunOnUiThread([&proc] {
        if (!IsTerminating()) proc(false, std::u16string());
    });
}

DWORD WINAPI ServiceWorker(void* param) {
    std::unique_ptr<CheckJob> job(static_cast<CheckJob*>(param));
    bool completed = false;
    try {
        // Read on this thread: the registry work of the client identifier stays off the UI thread.
        const THttpHeaders headers = {{u"User-Version", GetFileVersionText(u"%d.%d.%d.%d")},
                                      {u"User-Language", CurrentLanguage()},
                                      {u"User-Debug", u"false"},
                                      {u"User-Union", GetClientID()}};
        std::u16string data;
        const ServiceWorkerSteps steps{
            [&headers](std::u16string& answer) { return FetchText(headers, answer); }, Pause};
        if (RunServiceAttempts(steps, data) == ServiceWorkerResult::Terminated) return 0;
        completed = true;  // from here on the completion (or its failure on the UI thread) answers
        RunOnUiThread([&] { RunCompletion(data, job->proc); });
    } catch (...) {
        // Nothing of a failed check may take the process down from a worker thread: reported, once.
        ReportUnhandledError(std::current_exception());
    }
    if (!completed) {
        try {
            CompleteWithNothing(job->proc);
        } catch (...) {
        }
    }
    return 0;
}

BOOL CALLBACK FindMainWindowProc(HWND hwnd, LPARAM lp) {
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    if (IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER) && (style & WS_CAPTION) == WS_CAPTION) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::u16string FormatVersion(const std::u16string& format, const unsigned (&parts)[4]) {
    std::u16string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'd' && next < 4) {
                for (char c : std::to_string(parts[next++])) out.push_back(static_cast<char16_t>(c));
                ++i;
                continue;
            }
            if (format[i + 1] == u'%') {
                out.push_back(u'%');
                ++i;
                continue;
            }
        }
        out.push_back(format[i]);
    }
    return out;
}

std::wstring OwnModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

LocalDateTime LocalNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// Hold requests still on their way; the process waits for them before it ends.
std::mutex g_holdLock;
std::condition_variable g_holdDone;
int g_holdsInFlight = 0;

void HoldFinished() {
    std::lock_guard<std::mutex> lock(g_holdLock);
    --g_holdsInFlight;
    g_holdDone.notify_all();
}

DWORD WINAPI HoldWorker(void*) {
    try {
        std::u16string ignored;
        FetchText({{u"User-Version", GetFileVersionText(u"%d.%d.%d.%d")}, {u"User-Command", u"hold"}},
                  ignored);
    } catch (...) {
        ReportUnhandledError(std::current_exception());
    }
    HoldFinished();
    return 0;
}

}  // namespace

void SetFetchTimeoutForTests(unsigned milliseconds) {
    g_httpTimeoutMs = milliseconds ? static_cast<DWORD>(milliseconds) : kHttpTimeoutMs;
}

void SetServicePauseHook(std::function<bool(int milliseconds)> hook) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_pauseHook = std::move(hook);
}

void SetServiceThreadFailsForTests(bool fails) {
    g_failThreadStart = fails;
}

std::u16string UpdateURL() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_updateUrl;
}

int UpdateOffset() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_updateOffset;
}

void SetUpdateMainWindow(HWND form) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_mainWindow = form;
}

HWND GetUpdateMainWindow() {
    HWND form;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        form = g_mainWindow;
    }
    if (form && IsWindow(form)) return form;
    form = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMainWindowProc, reinterpret_cast<LPARAM>(&form));
    return form;
}

void CheckUpdate(const std::u16string& url, std::function<void(bool updateAccepted)> proc, int offset) {
    TUpdateProc full;
    if (proc) full = [proc = std::move(proc)](bool flag, const std::u16string&) { proc(flag); };
    CheckUpdateWithAnswer(url, std::move(full), offset);
}

void CheckUpdateWithAnswer(const std::u16string& url, TUpdateProc proc, int offset) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_updateUrl = url;
        g_updateOffset = offset;
    }
    const bool wait = !proc;
    auto* job = new CheckJob{std::move(proc)};
    HANDLE thread = g_failThreadStart ? nullptr : CreateThread(nullptr, 0, ServiceWorker, job, 0, nullptr);
    if (!thread) {
        const TUpdateProc failed = std::move(job->proc);
        delete job;
        if (failed && !IsTerminating()) failed(false, std::u16string());
        return;
    }
    if (wait) WaitServingUiTasks(thread);
    CloseHandle(thread);
}

bool FetchText(const THttpHeaders& headers, std::u16string& data) {
    return FetchText(UpdateURL(), headers, data);
}

bool FetchText(const std::u16string& url, const THttpHeaders& headers, std::u16string& data) {
    std::wstring wideUrl = ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        DWORD(-1);
    if (wideUrl.empty() || !WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    const std::u16string agent = UserAgent();
    ScopedInternet session(OpenHttpSession(W(agent)));
    if (!session) return false;
    // Every phase has its own limit: name resolution, connect, send, the wait for the response headers
    // (which WinHttpSetTimeouts leaves unlimited) and each read of the body; the body as a whole gets
    // one more, so a server that drips a byte now and then cannot keep the request alive either.
    const DWORD timeout = g_httpTimeoutMs.load();
    WinHttpSetTimeouts(session.get(), static_cast<int>(timeout), static_cast<int>(timeout),
                       static_cast<int>(timeout), static_cast<int>(timeout));
    DWORD responseTimeout = timeout;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    ScopedInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return false;
    ScopedInternet request(WinHttpOpenRequest(
        connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    DWORD redirects = kMaxRedirects;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                     sizeof redirects);

    // A header the client refuses to add (some versions refuse an empty value) still goes out, present
    // and empty: as one of the request's additional header lines, which are sent as written.
    std::wstring additional;
    for (const auto& header : headers) {
        const std::wstring line = HeaderLine(header.first, header.second);
        if (!WinHttpAddRequestHeaders(request.get(), line.c_str(), static_cast<DWORD>(line.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD))
            additional += line + L"\r\n";
    }
    if (!WinHttpSendRequest(
            request.get(), additional.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : additional.c_str(),
            additional.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;

    const auto bodyDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    std::string body;
    for (;;) {
        if (std::chrono::steady_clock::now() > bodyDeadline) return false;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) return false;
        if (available == 0) break;
        if (available > kMaxAnswerBytes + 1 - body.size())
            available = static_cast<DWORD>(kMaxAnswerBytes + 1 - body.size());
        const size_t at = body.size();
        body.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), body.data() + at, available, &read)) return false;
        body.resize(at + read);
        if (body.size() > kMaxAnswerBytes) {
            // An answer all the same (no retry), but none this program reads: no field of it is used.
            data.clear();
            return true;
        }
        if (read == 0) break;
    }
    data = Utf8ToUtf16(body);
    return true;
}

std::u16string GetFileVersionText(const std::u16string& format) {
    const std::u16string none = u"0.0.0.0";
    const std::wstring path = OwnModulePath();
    if (path.empty()) return none;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return none;
    std::string block(size, '\0');
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return none;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return none;
    const unsigned parts[4] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    return FormatVersion(format, parts);
}

std::u16string NewClientID() {
    static std::mutex lock;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    const RandomBelow random = [](uint32_t bound) {
        return std::uniform_int_distribution<uint32_t>(0, bound - 1)(generator);
    };
    return ComposeClientID(random, LocalNow);
}

std::u16string GetClientID() {
    ScopedHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vorbeck", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return std::u16string();
    if (RegQueryValueExW(key.get(), L"VUID", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND) {
        const std::u16string id = NewClientID();
        RegSetValueExW(key.get(), L"VUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(W(id)),
                       static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t)));
    }
    // Read with the settings store's rules for texts: REG_SZ or REG_EXPAND_SZ (unexpanded), cut at the
    // first NUL; any other type reads as empty.
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key.get(), L"VUID", nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return std::u16string();
    RawRegistryValue raw;
    raw.data.resize(bytes);
    if (RegQueryValueExW(key.get(), L"VUID", nullptr, &type, raw.data.data(), &bytes) != ERROR_SUCCESS)
        return std::u16string();
    raw.data.resize(bytes);
    raw.type = type;
    const Decoded<std::u16string> text = DecodeString(raw);
    return text.error == ConfigReadError::None ? text.value : std::u16string();
}

void HoldRequest() {
    {
        std::lock_guard<std::mutex> lock(g_holdLock);
        ++g_holdsInFlight;
    }
    HANDLE thread = CreateThread(nullptr, 0, HoldWorker, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        HoldFinished();
    }
}

void WaitForHoldRequests() {
    // Each request is bounded by FetchText's own time-outs.
    std::unique_lock<std::mutex> lock(g_holdLock);
    g_holdDone.wait(lock, [] { return g_holdsInFlight == 0; });
}

}  // namespace tarnell
