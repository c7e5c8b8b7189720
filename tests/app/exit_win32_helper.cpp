// Helper process: the window closes while a service check and a connectivity wait are in flight, then the
// program's own shut-down steps end the process. Prints "in flight" once both workers are stuck (a
// request and a probe held in their time-outs), before the close. A static object of this program says,
// when it is destroyed, how many workers were still running then: static destruction under a running
// worker is what must never happen. With the argument "idle", nothing is started: the static object is
// destroyed at the end as usual, which shows the observation works.
// Argument 1: "busy" or "idle"; argument 2: an address where nobody listens (the service check's).
// Exit code 0, or 2 when the workers were not both in flight in time.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/process_end_win32.h"
#include "app/run_control_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "translate/translation.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;

namespace {

void Say(const std::string& line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), DWORD(line.size()), &written, nullptr);
}

struct StaticWitness {
    ~StaticWitness() {
        Say("static objects destroyed with " + std::to_string(RunningWorkers()) + " workers running\n");
    }
};
StaticWitness g_witness;

// Never set: what waits on it is stuck until the process ends.
HANDLE g_never = CreateEventW(nullptr, TRUE, FALSE, nullptr);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 3;
    const bool busy = std::strcmp(argv[1], "busy") == 0;
    InitUiTasks();
    SetCurrentLanguage(u"ko");

    if (busy) {
        HANDLE checkStuck = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE waitStuck = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // The service check's first request fails; then it is held as a request stuck in its 60-second
        // time-outs would be, and it reads what such a worker reads when it goes on.
        SetServicePauseHook([checkStuck](int) {
            SetEvent(checkStuck);
            WaitForSingleObject(g_never, INFINITE);
            return !UpdateURL().empty() && !CurrentLanguage().empty();
        });
        CheckUpdate(
            FromAscii(argv[2]), [](bool) {}, 10);
        // A connectivity wait whose probe is stuck in its time-outs.
        TThreadRunWorker worker([waitStuck] {
            SetEvent(waitStuck);
            WaitForSingleObject(g_never, INFINITE);
            return TranslateText(u"버전").empty();
        });
        // A job that goes straight to the wait, whose probe is stuck.
        worker.Start(
            [](ConnectivityWaitEnvironment& wait) {
                TRunOutcome outcome;
                outcome.wait = ConnectivityWait(wait);
                return outcome;
            },
            [](const TRunOutcome&) {});
        const HANDLE stuck[] = {checkStuck, waitStuck};
        if (WaitForMultipleObjects(2, stuck, TRUE, 20000) != WAIT_OBJECT_0 || RunningWorkers() != 2) return 2;
        Say("in flight\n");
    }

    // The window closes as the program's does, then the process's own shut-down.
    SetTerminating();
    ShutdownUiTasks();
    return ShutDownProcess(0, false);
}
