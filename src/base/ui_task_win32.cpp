#include "base/ui_task_win32.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "base/error_boundary_win32.h"

namespace tarnell {

namespace {

// One handed-over task. The worker that handed it over owns the function and waits until the UI thread
// has run it, or until it is certain that the UI thread never will.
struct UiTask {
    enum class State { Pending, Running, Done, Dropped };

    explicit UiTask(const std::function<void()>& task)
        : fn(task), done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    UiTask(const UiTask&) = delete;
    UiTask& operator=(const UiTask&) = delete;

    const std::function<void()>& fn;  // valid while the worker waits, that is while not Dropped
    std::mutex lock;
    State state = State::Pending;
    bool ran = false;  // the function returned normally
    ScopedHandle done;
};

constexpr UINT kRunTask = WM_APP + 0x100;  // lParam: std::shared_ptr<UiTask>* owned by the message
std::atomic<HWND> g_taskWindow{nullptr};
std::atomic<bool> g_terminating{false};
std::atomic<DWORD> g_uiThread{0};
std::atomic<HANDLE> g_uiThreadHandle{nullptr};  // SYNCHRONIZE on the UI thread, to notice it is gone
std::atomic<void (*)(std::exception_ptr)> g_errorHandler{nullptr};
std::atomic<bool> g_failWorkerStart{false};

// Work started and not yet ended (all, and those the exit waits for), and the event that is set while
// none of the latter is left.
std::mutex g_workersLock;
int g_workers = 0;
int g_drained = 0;
HANDLE NoDrainedWorkersEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return event;
}

struct WorkerJob {
    std::function<void()> work;
    AtExit atExit;
};

void WorkerStarted(AtExit atExit) {
    std::lock_guard<std::mutex> guard(g_workersLock);
    ++g_workers;
    if (atExit == AtExit::Drain && g_drained++ == 0) ResetEvent(NoDrainedWorkersEvent());
}

void WorkerEnded(AtExit atExit) {
    std::lock_guard<std::mutex> guard(g_workersLock);
    --g_workers;
    if (atExit == AtExit::Drain && --g_drained == 0) SetEvent(NoDrainedWorkersEvent());
}

void ReportError(std::exception_ptr error) {
    if (auto handler = g_errorHandler.load()) handler(error);
}

DWORD WINAPI WorkerMain(void* param) {
    std::unique_ptr<WorkerJob> job(static_cast<WorkerJob*>(param));
    const AtExit atExit = job->atExit;
    try {
        job->work();
    } catch (...) {
        // Nothing may escape a thread: reported (once), and the program goes on.
        ReportUnhandledError(std::current_exception());
    }
    job.reset();
    WorkerEnded(atExit);
    return 0;
}

// Set once, when the application begins terminating; pauses and hand-overs wait on it.
HANDLE TerminatingEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

void RunTask(UiTask& task) {
    {
        std::lock_guard<std::mutex> guard(task.lock);
        if (task.state != UiTask::State::Pending) return;
        // A task posted just before shut-down began is dropped here, on the UI thread, too.
        if (g_terminating) {
            task.state = UiTask::State::Dropped;
            SetEvent(task.done.get());
            return;
        }
        task.state = UiTask::State::Running;
    }
    bool ran = false;
    // Nothing may escape into the worker: a failed task is a task that did nothing.
    try {
        task.fn();
        ran = true;
    } catch (...) {
        ReportError(std::current_exception());
    }
    std::lock_guard<std::mutex> guard(task.lock);
    task.ran = ran;
    task.state = UiTask::State::Done;
    SetEvent(task.done.get());
}

LRESULT CALLBACK TaskWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunTask) {
        std::unique_ptr<std::shared_ptr<UiTask>> task(reinterpret_cast<std::shared_ptr<UiTask>*>(lp));
        RunTask(**task);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Waits for the task's end. Before the UI thread has begun the task, shut-down drops it; once begun,
// only its end or the UI thread's death ends the wait (the function lives on the worker's stack).
bool AwaitTask(UiTask& task, HANDLE uiThread) {
    bool terminatingSeen = false;
    for (;;) {
        HANDLE handles[3] = {task.done.get(), uiThread, TerminatingEvent()};
        const DWORD count = terminatingSeen ? 2 : 3;
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        std::lock_guard<std::mutex> guard(task.lock);
        if (task.state == UiTask::State::Done) return task.ran;
        if (task.state == UiTask::State::Dropped) return false;
        if (r == WAIT_OBJECT_0 + 1 || r == WAIT_FAILED) {
            // The UI thread is gone: nothing will ever run the task or answer for it.
            task.state = UiTask::State::Dropped;
            return false;
        }
        if (r == WAIT_OBJECT_0 + 2) {
            if (task.state == UiTask::State::Pending) {
                task.state = UiTask::State::Dropped;
                return false;
            }
            terminatingSeen = true;  // running: wait for it to end
        }
    }
}

}  // namespace

void InitUiTasks() {
    HWND existing = g_taskWindow.load();
    if (existing && IsWindow(existing)) return;
    TerminatingEvent();
    const DWORD self = GetCurrentThreadId();
    HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, self);
    const ScopedHandle previous(g_uiThreadHandle.exchange(handle));  // an earlier UI thread's
    g_uiThread = self;
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
        // The same boundary as the posted road: nothing escapes into the caller.
        try {
            fn();
            return true;
        } catch (...) {
            ReportError(std::current_exception());
            return false;
        }
    }
    HWND hwnd = g_taskWindow.load();
    HANDLE uiThread = g_uiThreadHandle.load();
    if (!hwnd || !uiThread || g_terminating) return false;
    // Posted, not sent: the task runs from the UI thread's own message loop, so what it calls (COM,
    // the shell, modal boxes) is not inside a cross-thread sent message.
    auto task = std::make_shared<UiTask>(fn);
    if (!task->done) return false;
    auto carrier = std::make_unique<std::shared_ptr<UiTask>>(task);
    if (!PostMessageW(hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(carrier.get()))) return false;
    carrier.release();  // the message owns it now
    return AwaitTask(*task, uiThread);
}

void WaitServingUiTasks(HANDLE object) {
    for (;;) {
        const DWORD r =
            MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_POSTMESSAGE | QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        HWND hwnd = g_taskWindow.load();
        while (hwnd && PeekMessageW(&msg, hwnd, kRunTask, kRunTask, PM_REMOVE)) DispatchMessageW(&msg);
        // Sent messages are delivered by the peek itself.
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool WaitUnlessTerminating(unsigned milliseconds) {
    if (g_terminating) return false;
    return WaitForSingleObject(TerminatingEvent(), milliseconds) == WAIT_TIMEOUT;
}

ScopedHandle StartWorker(std::function<void()> work, AtExit atExit) {
    if (g_failWorkerStart) return ScopedHandle();
    auto job = std::make_unique<WorkerJob>(WorkerJob{std::move(work), atExit});
    WorkerStarted(atExit);
    ScopedHandle thread(CreateThread(nullptr, 0, WorkerMain, job.get(), 0, nullptr));
    if (!thread) {
        WorkerEnded(atExit);
        return thread;
    }
    job.release();  // the thread owns it now
    return thread;
}

int RunningWorkers() {
    std::lock_guard<std::mutex> guard(g_workersLock);
    return g_workers;
}

bool DrainWorkers(unsigned milliseconds) {
    return WaitForSingleObject(NoDrainedWorkersEvent(), milliseconds) == WAIT_OBJECT_0;
}

void SetWorkerStartFailsForTests(bool fails) {
    g_failWorkerStart = fails;
}

void SetUiTaskErrorHandler(void (*handler)(std::exception_ptr)) {
    g_errorHandler = handler;
}

bool IsTerminating() {
    return g_terminating.load();
}
void SetTerminating() {
    g_terminating = true;
    SetEvent(TerminatingEvent());
}

}  // namespace tarnell
