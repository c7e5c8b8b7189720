#include "update/update_check_win32.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>

#include "base/error_boundary_win32.h"
#include "base/file_version_win32.h"
#include "base/http_win32.h"
#include "base/log_win32.h"
#include "base/scoped_win.h"
#include "base/shell_open_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "config/config.h"
#include "translate/translation.h"
#include "update/client_id.h"
#include "update/service_check.h"
#include "update/update_dialog_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_status_win32.h"
#include "update/update_texts.h"

namespace tarnell {

namespace {

constexpr DWORD kHttpTimeoutMs = 60000;

std::atomic<DWORD> g_httpTimeoutMs{kHttpTimeoutMs};

std::mutex g_lock;  // guards the process-wide values below
std::u16string g_updateUrl;
int g_updateOffset = 0;
HWND g_mainWindow = nullptr;
std::function<bool(int)> g_pauseHook;

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

// Who asked for a check, and whether it is still there to be answered.
struct ServiceCaller {
    TUpdateProc proc;
    std::weak_ptr<void> owner;
    bool owned = false;  // false: the caller lives as long as the process
    // On the UI thread only, where an owner is destroyed.
    bool Gone() const { return owned && owner.expired(); }
};

void RunCompletion(const std::u16string& data, const ServiceCaller& caller) {
    if (caller.Gone()) return;
    const bool flag = CompleteServiceCheck(data, {UpdateDialog, ShellOpen, ShowNotice});
    // The prompt is modal: its owner may have gone while it was up.
    if (caller.proc && !caller.Gone()) caller.proc(flag, data);
}

// The callback of a check that ended without an answer through no fault of the service's: something
// failed inside the worker. Unless the program is terminating.
void CompleteWithNothing(const ServiceCaller& caller) {
    if (!caller.proc || IsTerminating()) return;
    RunOnUiThread([&caller] {
        if (!IsTerminating() && !caller.Gone()) caller.proc(false, std::u16string());
    });
}

void ServiceWorker(const ServiceCaller& caller) {
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
        if (RunServiceAttempts(steps, data) == ServiceWorkerResult::Terminated) return;
        completed = true;  // from here on the completion (or its failure on the UI thread) answers
        RunOnUiThread([&] { RunCompletion(data, caller); });
    } catch (...) {
        // Nothing of a failed check may take the process down from a worker thread: reported, once.
        ReportUnhandledError(std::current_exception());
    }
    if (!completed) {
        try {
            CompleteWithNothing(caller);
        } catch (...) {
            Log(u"service check: its empty completion failed with an exception");
        }
    }
}

BOOL CALLBACK FindMainWindowProc(HWND hwnd, LPARAM lp) {
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    if (IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER) && (style & WS_CAPTION) == WS_CAPTION) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

LocalDateTime LocalNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace

void SetFetchTimeoutForTests(unsigned milliseconds) {
    g_httpTimeoutMs = milliseconds ? static_cast<DWORD>(milliseconds) : kHttpTimeoutMs;
}

void SetServicePauseHook(std::function<bool(int milliseconds)> hook) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_pauseHook = std::move(hook);
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

namespace {

TUpdateProc WithoutAnswer(std::function<void(bool updateAccepted)> proc) {
    if (!proc) return TUpdateProc();
    return [proc = std::move(proc)](bool flag, const std::u16string&) { proc(flag); };
}

void StartCheck(const std::u16string& url, ServiceCaller caller, int offset) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_updateUrl = url;
        g_updateOffset = offset;
    }
    const bool wait = !caller.proc;
    auto shared = std::make_shared<ServiceCaller>(std::move(caller));
    // Not waited for at exit: an answer that comes after the window has nowhere to go.
    ScopedHandle thread = StartWorker([shared] { ServiceWorker(*shared); }, AtExit::Abandon);
    if (!thread) {
        if (shared->proc && !IsTerminating() && !shared->Gone()) shared->proc(false, std::u16string());
        return;
    }
    if (wait) WaitServingUiTasks(thread.get());
}

}  // namespace

void CheckUpdate(const std::u16string& url, std::function<void(bool updateAccepted)> proc, int offset) {
    StartCheck(url, ServiceCaller{WithoutAnswer(std::move(proc))}, offset);
}

void CheckUpdate(const std::u16string& url, std::function<void(bool updateAccepted)> proc, int offset,
                 std::weak_ptr<void> owner) {
    StartCheck(url, ServiceCaller{WithoutAnswer(std::move(proc)), std::move(owner), true}, offset);
}

void CheckUpdateWithAnswer(const std::u16string& url, TUpdateProc proc, int offset) {
    StartCheck(url, ServiceCaller{std::move(proc)}, offset);
}

bool FetchText(const THttpHeaders& headers, std::u16string& data) {
    return FetchText(UpdateURL(), headers, data);
}

bool FetchText(const std::u16string& url, const THttpHeaders& headers, std::u16string& data) {
    HttpRequest request;
    request.url = url;
    request.headers = headers;
    request.agent = UserAgent();
    request.timeoutMs = g_httpTimeoutMs.load();
    request.byteCap = kMaxAnswerBytes;
    HttpResponse response;
    if (!SendHttpRequest(request, response)) {
        Log(u"service check: no whole answer (a failed attempt)");
        return false;
    }
    {
        // What came back, never what it says: the status, the size and which of the fields it holds.
        const std::string status = std::to_string(response.status),
                          size = std::to_string(response.body.size());
        std::u16string line = u"service check: HTTP " + std::u16string(status.begin(), status.end()) + u", " +
                              std::u16string(size.begin(), size.end()) + u" bytes, fields:";
        bool any = false;
        for (const char* field : {"\"update\"", "\"notify\"", "\"info\""}) {
            if (response.body.find(field) == std::string::npos) continue;
            line += u" ";
            for (const char* c = field + 1; c[1]; ++c) line.push_back(char16_t(*c));
            any = true;
        }
        Log(any ? line : line + u" none");
    }
    // An answer over the cap is an answer all the same (no retry), but none this program reads: no field
    // of it is used.
    data = response.overCap ? std::u16string() : Utf8ToUtf16(response.body);
    return true;
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
    StartWorker([] {
        std::u16string ignored;
        FetchText({{u"User-Version", GetFileVersionText(u"%d.%d.%d.%d")}, {u"User-Command", u"hold"}},
                  ignored);
    });
}

}  // namespace tarnell
