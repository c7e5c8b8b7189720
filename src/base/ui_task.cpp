#include "base/ui_task.h"

#include <windows.h>

#include <atomic>

namespace tarnell {

namespace {
constexpr UINT kRunTask = WM_APP + 0x100;  // lParam: const std::function<void()>* owned by the sender
std::atomic<HWND> g_taskWindow{nullptr};
std::atomic<bool> g_terminating{false};
DWORD g_uiThread = 0;
std::atomic<void (*)(std::exception_ptr)> g_errorHandler{nullptr};

LRESULT CALLBACK TaskWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunTask) {
        // A task sent just before shut-down began is dropped here, on the UI thread, too.
        if (g_terminating) return 0;
        // Nothing may escape into the sender's thread: a failed task is a task that did nothing.
        try {
            (*reinterpret_cast<const std::function<void()>*>(lp))();
            return 1;
        } catch (...) {
            if (auto handler = g_errorHandler.load()) handler(std::current_exception());
            return 0;
        }
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

void InitUiTasks() {
    if (g_taskWindow.load()) return;
    g_uiThread = GetCurrentThreadId();
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = TaskWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarnellUiTasks";
    RegisterClassExW(&wc);
    g_taskWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
}

void ShutdownUiTasks() {
    SetTerminating();
    if (HWND hwnd = g_taskWindow.exchange(nullptr)) DestroyWindow(hwnd);
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (g_uiThread != 0 && GetCurrentThreadId() == g_uiThread) {
        if (g_terminating) return false;
        fn();
        return true;
    }
    HWND hwnd = g_taskWindow.load();
    if (!hwnd || g_terminating) return false;
    return SendMessageW(hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(&fn)) == 1;
}

void SetUiTaskErrorHandler(void (*handler)(std::exception_ptr)) { g_errorHandler = handler; }

bool IsTerminating() { return g_terminating.load(); }
void SetTerminating() { g_terminating = true; }

}  // namespace tarnell
