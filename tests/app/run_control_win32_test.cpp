// The real worker thread and the hand-over, with a message-only UI on this thread and fake services.
#include "app/run_control_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <atomic>
#include <chrono>

#include "../support/wait_win32.h"
#include "base/ui_task_win32.h"
#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;
using namespace std::chrono_literals;

namespace {

// Notes the thread on which the status setter's hand-over reaches the view.
class ThreadNotingView final : public FakeView {
  public:
    using FakeView::FakeView;
    std::atomic<DWORD> settledOn{0};
    void SetRunDown(bool down) override {
        settledOn = GetCurrentThreadId();
        FakeView::SetRunDown(down);
    }
};

struct ThreadRig {
    Log log;
    ThreadNotingView view{log};
    FakeSettings settings{log};
    FakeTweaks tweaks{log};
    FakeServices services{log};
    FakeTexts texts;
    TThreadRunWorker worker;
    TRunControl control{view, settings, tweaks, services, worker, texts};
    explicit ThreadRig(TThreadRunWorker::Probe probe) : worker(std::move(probe)) {
        view.onOptionClick = [this](TRunOption o, bool c) { control.OptionClick(o, c); };
    }
};

}  // namespace

TEST_CASE("The wait runs on a worker and its status is handed over on the UI thread") {
    InitUiTasks();
    const DWORD uiThread = GetCurrentThreadId();
    std::atomic<int> probes{0};
    std::atomic<DWORD> probeThread{0};
    ThreadRig rig([&] {
        probeThread = GetCurrentThreadId();
        return ++probes >= 2;  // one failure, so one real pause
    });
    rig.control.LoadState();
    REQUIRE(rig.control.Status() == stIdle);

    const auto started = std::chrono::steady_clock::now();
    rig.control.BtnStartClick();
    CHECK(rig.control.Status() == stBusy);  // Refresh returned while the worker waits
    CHECK(rig.view.runCaption.empty());

    REQUIRE(WaitUntil([&] { return rig.control.Status() != stBusy; }, 10000));
    const auto took = std::chrono::steady_clock::now() - started;

    CHECK(rig.control.Status() == stRunning);
    CHECK(rig.settings.integers[u"status"] == 1);
    CHECK(rig.view.settledOn.load() == uiThread);
    CHECK(probes.load() == 2);
    CHECK(probeThread.load() != uiThread);
    CHECK(took >= 950ms);  // the 1000 ms pause after the failed probe
    CHECK(took < 5s);
    CHECK(WaitUntil([] { return RunningWorkers() == 0; }, 2000));
}

TEST_CASE("A probe that throws counts as no answer and the wait goes on") {
    InitUiTasks();
    std::atomic<int> probes{0};
    ThreadRig rig([&]() -> bool {
        if (++probes == 1) throw std::runtime_error("probe failed");
        return true;
    });
    rig.control.LoadState();
    rig.control.BtnStartClick();
    REQUIRE(WaitUntil([&] { return rig.control.Status() != stBusy; }, 10000));
    CHECK(rig.control.Status() == stRunning);
    CHECK(probes.load() == 2);
}

TEST_CASE("PauseUnlessTerminating sleeps the whole duration while the application runs") {
    const auto started = std::chrono::steady_clock::now();
    PauseUnlessTerminating(120ms);
    const auto took = std::chrono::steady_clock::now() - started;
    CHECK(took >= 110ms);
    CHECK(took < 1s);
}

TEST_CASE("The settings store adapter writes and reads through one TConfig per instance") {
    TConfigRunSettings settings;
    const std::u16string path = u"TarnellRunControlTest";
    {
        auto store = settings.Open(path);
        store->WriteBoolean(u"tcpnodelay", false);
        store->WriteInteger(u"status", 257);
    }
    auto store = settings.Open(path);
    CHECK_FALSE(store->ReadBoolean(u"tcpnodelay", true));
    CHECK(store->ReadInteger(u"status", 0) == 257);
    CHECK(store->ReadBoolean(u"missing", true));
    CHECK(store->ReadInteger(u"missing", 42) == 42);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnellRunControlTest");
}
