// The worker-to-UI hand-over: runs on the UI thread, waits for it, and is dropped once shut-down began.
#include <doctest/doctest.h>
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "../support/wait_win32.h"
#include "base/ui_task_win32.h"

using namespace tarnell;

namespace {
// Runs the UI thread's messages until done is set (or a time limit passes).
void PumpUntil(const std::atomic<bool>& done) {
    test::WaitUntil([&] { return done.load(); }, 5000);
}

std::atomic<int> g_reported{0};
void CountReport(std::exception_ptr) {
    ++g_reported;
}
}  // namespace

// Runs first (file order): a UI thread of its own that dies inside a handed-over task, as a crash in the
// shell would kill it. The worker must not wait for ever for a thread that is gone.
TEST_CASE("A hand-over ends when the UI thread dies while running it") {
    struct Shared {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } shared;
    HANDLE ui = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            InitUiTasks();
            SetEvent(static_cast<Shared*>(p)->ready);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            return 0;
        },
        &shared, 0, nullptr);
    REQUIRE(ui);
    REQUIRE(WaitForSingleObject(shared.ready, 5000) == WAIT_OBJECT_0);

    HANDLE worker = CreateThread(
        nullptr, 0, [](void*) -> DWORD { return RunOnUiThread([] { ExitThread(7); }) ? 1 : 0; }, nullptr, 0,
        nullptr);
    REQUIRE(worker);
    CHECK(WaitForSingleObject(ui, 5000) == WAIT_OBJECT_0);
    REQUIRE_MESSAGE(WaitForSingleObject(worker, 5000) == WAIT_OBJECT_0,
                    "the worker still waits for a dead UI");
    DWORD answered = 2;
    GetExitCodeThread(worker, &answered);
    CHECK(answered == 0);
    CloseHandle(worker);
    CloseHandle(ui);
    CloseHandle(shared.ready);
}

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

    SUBCASE("the task runs from the message loop, not inside a message sent by the worker") {
        // Inside a sent message outgoing COM calls fail, and the shell may open nothing.
        std::atomic<bool> done{false};
        bool inSend = true;
        std::thread worker([&] {
            RunOnUiThread([&] { inSend = InSendMessage() != FALSE; });
            done = true;
        });
        PumpUntil(done);
        worker.join();
        CHECK_FALSE(inSend);
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

    SUBCASE("a task not yet begun is dropped when shut-down begins; the worker does not wait for it") {
        std::atomic<bool> answered{true};
        std::atomic<bool> done{false};
        bool ran = false;
        std::thread worker([&] {
            answered = RunOnUiThread([&] { ran = true; });
            done = true;
        });
        // This thread does not pump: it only looks, without taking it, for the task the worker posts.
        MSG posted;
        const ULONGLONG postedBy = GetTickCount64() + 5000;
        while (!PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE) && GetTickCount64() < postedBy)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
        REQUIRE(PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE));
        ShutdownUiTasks();
        const ULONGLONG until = GetTickCount64() + 5000;
        while (!done && GetTickCount64() < until) Sleep(10);
        CHECK(done);
        worker.join();
        CHECK_FALSE(answered);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        CHECK_FALSE(ran);
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
