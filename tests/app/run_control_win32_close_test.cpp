// Closing the program while connectivity waits run. The terminating flag never clears again, so this
// has a process of its own.
#include <doctest/doctest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "../support/wait_win32.h"
#include "app/run_control_win32.h"
#include "base/ui_task_win32.h"
#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;
using namespace std::chrono_literals;

namespace {

struct ThreadRig {
    Log log;
    FakeView view{log};
    FakeSettings settings{log};
    FakeTweaks tweaks{log};
    FakeServices services{log};
    FakeTexts texts;
    TThreadRunWorker worker;
    std::optional<TRunControl> control;
    explicit ThreadRig(TThreadRunWorker::Probe probe) : worker(std::move(probe)) {
        control.emplace(view, settings, tweaks, services, worker, texts);
        view.onOptionClick = [this](TRunOption o, bool c) { control->OptionClick(o, c); };
    }
};

}  // namespace

TEST_CASE("Closing during waits ends them within a second and no hand-over reaches the window") {
    InitUiTasks();

    // A: its probe answers at once, so its worker is already blocked in the hand-over when the
    //    window closes (this thread is not pumping then).
    // B: its probe never answers, so its worker is in a pause when the window closes.
    std::atomic<int> probesA{0}, probesB{0};
    ThreadRig a([&] { return ++probesA > 0; });
    ThreadRig b([&] {
        ++probesB;
        return false;
    });
    a.control->LoadState();
    b.control->LoadState();
    a.control->BtnStartClick();
    b.control->BtnStartClick();
    REQUIRE(RunningWorkers() == 2);

    // No messages are handled here. A waits in the hand-over once its task is in this thread's queue; B is
    // in its pause once it has probed.
    MSG posted;
    const ULONGLONG until = GetTickCount64() + 10000;
    while (!(PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE) && probesB.load() >= 1) &&
           GetTickCount64() < until)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE);
    REQUIRE(PeekMessageW(&posted, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE));
    REQUIRE(probesB.load() >= 1);
    const size_t logA = a.log.size();
    const size_t logB = b.log.size();
    const int probedB = probesB.load();

    // The window closes: the terminating flag first, then the window and its run control go.
    const auto closed = std::chrono::steady_clock::now();
    SetTerminating();
    b.control.reset();

    CHECK(WaitUntil([] { return RunningWorkers() == 0; }, 5000));
    // B's pause of a second had just begun at the close: one that did not wake would run it out.
    const auto endedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closed)
            .count();
    MESSAGE("both waits ended " << endedMs << " ms after the close");
    CHECK(endedMs < 800);

    CHECK(a.log.size() == logA);  // A's status was handed over late and dropped on the UI thread
    CHECK(a.control->Status() == stBusy);
    CHECK(b.log.size() == logB);
    CHECK(probesB.load() == probedB);  // no probe after the close
    CHECK(probesA.load() == 1);
    // What was recorded with the apply writes, before the wait, stays: running, as the registry is.
    CHECK(a.settings.integers[u"status"] == 1);
    ShutdownUiTasks();
}

TEST_CASE("A probe in flight does not hold up the end of the process") {
    // The helper starts a wait whose probe blocks for 20 s, closes once the probe is in flight and returns
    // from main.
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    REQUIRE(n > 0);
    std::wstring helper(self, n);
    helper = helper.substr(0, helper.find_last_of(L"\\/") + 1) + L"app_run_control_exit_helper.exe";

    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + helper + L"\"";
    REQUIRE(
        CreateProcessW(helper.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    const auto started = std::chrono::steady_clock::now();
    const DWORD wait = WaitForSingleObject(pi.hProcess, 15000);
    const auto took = std::chrono::steady_clock::now() - started;
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    REQUIRE(wait == WAIT_OBJECT_0);
    CHECK(code == 0);  // the helper saw the probe in flight when it closed
    // Process start and exit under Wine; far below the probe's 20 s.
    MESSAGE("the helper ended " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                << " ms after it started");
    CHECK(took < 10s);
}
