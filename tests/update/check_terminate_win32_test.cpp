// The service check's worker ends within moments of the application's terminating, in the middle of its
// ten-second pause, and never calls back.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <windows.h>

#include "base/shell_open_win32.h"
#include "base/ui_task_win32.h"
#include "fixture_win32.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;
using namespace tarnell::test;

TEST_CASE("Terminating during a pause ends the worker at once, without completion") {
    using Clock = std::chrono::steady_clock;
    InitUiTasks();
    bool opened = false;
    SetShellOpenHook([&opened](const std::u16string&) { opened = true; });

    // The first attempt fails at once (nobody listens); the pause of 10 s begins, the real wait on the
    // terminating event, with a hook around it that says when; termination comes as soon as it has begun.
    // Without a callback CheckUpdate waits for the worker: it returns because the worker stopped.
    HANDLE pauseBegun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUIRE(pauseBegun);
    int pauseMs = 0;
    SetServicePauseHook([&](int milliseconds) {
        pauseMs = milliseconds;
        SetEvent(pauseBegun);
        return WaitUnlessTerminating(unsigned(milliseconds));
    });
    std::atomic<Clock::rep> terminatedAt{0};
    std::thread terminator([&] {
        WaitForSingleObject(pauseBegun, 60000);
        terminatedAt = Clock::now().time_since_epoch().count();
        SetTerminating();
    });
    CheckUpdate(ClosedPortUrl("/api/update-notify"), nullptr, 10);
    const auto returnedAt = Clock::now();
    terminator.join();
    SetServicePauseHook({});
    CloseHandle(pauseBegun);
    CHECK(pauseMs == 10000);
    REQUIRE(terminatedAt.load() != 0);
    const auto late = returnedAt - Clock::time_point(Clock::duration(terminatedAt.load()));
    const auto lateMs = std::chrono::duration_cast<std::chrono::milliseconds>(late).count();
    MESSAGE("the check returned " << lateMs << " ms after termination");
    // A few ms on an idle machine; anything well short of the 10 s the pause would have lasted.
    CHECK(lateMs < 5000);
    CHECK_FALSE(opened);
    SetShellOpenHook({});
}
