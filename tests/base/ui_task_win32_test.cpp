// The worker-to-UI hand-over: runs on the UI thread, waits for it, and is dropped once shut-down began.
#include "base/ui_task.h"

#include <windows.h>

#include <doctest/doctest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace tarnell;

namespace {
// Pumps the UI thread's messages until done is set (or a time limit passes).
void PumpUntil(const std::atomic<bool>& done) {
    const ULONGLONG until = GetTickCount64() + 5000;
    while (!done && GetTickCount64() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

std::atomic<int> g_reported{0};
void CountReport(std::exception_ptr) { ++g_reported; }
}  // namespace

TEST_CASE("RunOnUiThread hands work to the UI thread and waits for it, until shut-down") {
    InitUiTasks();
    const DWORD uiThread = GetCurrentThreadId();

    SUBCASE("a worker's task runs on the UI thread and the worker sees it finished") {
        std::atomic<bool> done{false};
        DWORD ranOn = 0;
        bool answered = false;
        std::thread worker([&] {
            answered = RunOnUiThread([&] { ranOn = GetCurrentThreadId(); });
            done = true;
        });
        PumpUntil(done);
        worker.join();
        CHECK(answered);
        CHECK(ranOn == uiThread);
    }

    SUBCASE("an error escaping a task goes to the handler, not to the worker") {
        SetUiTaskErrorHandler(CountReport);
        std::atomic<bool> done{false};
        bool answered = true;
        std::thread worker([&] {
            answered = RunOnUiThread([] { throw std::runtime_error("boom"); });
            done = true;
        });
        PumpUntil(done);
        worker.join();
        CHECK_FALSE(answered);
        CHECK(g_reported == 1);
        SetUiTaskErrorHandler(nullptr);
    }

    SUBCASE("after shut-down a late worker is turned away at once") {
        ShutdownUiTasks();
        CHECK(IsTerminating());
        bool ran = false;
        bool answered = true;
        std::thread worker([&] { answered = RunOnUiThread([&] { ran = true; }); });
        worker.join();  // no pumping: a hand-over that waited for the UI would hang here
        CHECK_FALSE(answered);
        CHECK_FALSE(ran);
    }
}
