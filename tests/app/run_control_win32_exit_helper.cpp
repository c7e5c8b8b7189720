// Helper process: closes while a connectivity probe is in flight and returns from main at once.
// Exit code 0 when the probe was running at the close, 2 when it was not.
// The fakes come with the test framework's header; this program is not a test of its own.
#define DOCTEST_CONFIG_DISABLE

#include <windows.h>

#include <atomic>

#include "app/run_control_win32.h"
#include "base/ui_task_win32.h"
#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;

int main() {
    InitUiTasks();
    static std::atomic<bool> probing{false};
    Log log;
    FakeView view{log};
    FakeSettings settings{log};
    FakeTweaks tweaks{log};
    FakeServices services{log};
    FakeTexts texts;
    TThreadRunWorker worker([] {
        probing = true;
        Sleep(20000);  // a probe stuck in its time-outs
        return true;
    });
    TRunControl control(view, settings, tweaks, services, worker, texts);
    control.LoadState();
    control.BtnStartClick();

    // Closes as soon as the probe is in flight (not pumping: the wait's hand-over stays queued).
    const ULONGLONG until = GetTickCount64() + 10000;
    while (!(probing.load() && RunningWorkers() == 1) && GetTickCount64() < until) Sleep(1);
    const bool inFlight = probing.load() && RunningWorkers() == 1;
    SetTerminating();
    ShutdownUiTasks();
    return inFlight ? 0 : 2;
}
