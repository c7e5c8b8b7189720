// The service check's worker ends at its next pause step once the application is terminating.
#include <doctest/doctest.h>

#include "base/ui_task.h"
#include "fixture_win32.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;
using namespace tarnell::test;

TEST_CASE("Terminating during a pause ends the worker at once, without completion") {
    InitUiTasks();
    int steps = 0;
    SetServicePauseStepHook([&steps] {
        if (++steps == 5) SetTerminating();
    });
    bool opened = false;
    SetShellOpenHook([&opened](const std::u16string&) { opened = true; });

    // Without a callback CheckUpdate waits for the worker: it returns because the worker stopped.
    CheckUpdate(ClosedPortUrl("/api/update-notify"), nullptr, 10);
    CHECK(steps == 5);
    CHECK_FALSE(opened);
    SetServicePauseStepHook({});
    SetShellOpenHook({});
}
