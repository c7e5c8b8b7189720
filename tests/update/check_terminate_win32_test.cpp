// The service check's worker ends within moments of the application's terminating, in the middle of its
// ten-second pause, and never calls back.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

    // The first attempt fails at once (nobody listens); the real pause of 10 s begins; termination comes
    // 500 ms later. Without a callback CheckUpdate waits for the worker: it returns because the worker
    // stopped.
    std::atomic<Clock::rep> terminatedAt{0};
    std::thread terminator([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        terminatedAt = Clock::now().time_since_epoch().count();
        SetTerminating();
    });
    CheckUpdate(ClosedPortUrl("/api/update-notify"), nullptr, 10);
    const auto returnedAt = Clock::now();
    terminator.join();
    const auto late = returnedAt - Clock::time_point(Clock::duration(terminatedAt.load()));
    const auto lateMs = std::chrono::duration_cast<std::chrono::milliseconds>(late).count();
    CAPTURE(lateMs);
    CHECK(lateMs < 250);  // a few ms on an idle machine; generous for a loaded one
    CHECK_FALSE(opened);
    SetShellOpenHook({});
}
