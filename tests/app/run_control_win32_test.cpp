// The real worker thread and the hand-over, with a message-only UI on this thread and fake services.
#include "app/run_control_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "../support/wait_win32.h"
#include "base/scoped_win.h"
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

namespace {

// A step of the system half that blocks until the test releases it: the record (its lock and the registry
// writes happen inside Apply and GiveBack), the status record, or one half of the adapter's cycle.
enum class Step { Record, Status, Disable, Enable };

struct Gate {
    Step step;
    ScopedHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ScopedHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    void Pass(Step at) {
        if (at != step) return;
        SetEvent(entered.get());
        WaitForSingleObject(release.get(), 20000);  // released by the test, or by the watchdog
    }
};

class GatedTweaks final : public RunTweaks {
  public:
    GatedTweaks(FakeTweaks& inner, Gate& gate) : inner_(inner), gate_(gate) {}
    RecordState State() override { return inner_.State(); }
    RecordResult Apply(const std::array<bool, kRunOptionCount>& enabled,
                       const std::u16string& guid) override {
        gate_.Pass(Step::Record);
        return inner_.Apply(enabled, guid);
    }
    RecordResult GiveBack() override {
        gate_.Pass(Step::Record);
        return inner_.GiveBack();
    }
    RecordResult TakeOver() override { return inner_.TakeOver(); }
    std::vector<TRecordedValue> Inspect() override { return inner_.Inspect(); }

  private:
    FakeTweaks& inner_;
    Gate& gate_;
};

class GatedSettings final : public RunSettings {
  public:
    GatedSettings(FakeSettings& inner, Gate& gate) : inner_(inner), gate_(gate) {}
    std::unique_ptr<RunSettingsStore> Open(const std::u16string& path) override {
        // Only the worker opens the store while busy: the status record.
        if (GetCurrentThreadId() != uiThread) gate_.Pass(Step::Status);
        return inner_.Open(path);
    }
    DWORD uiThread = GetCurrentThreadId();

  private:
    FakeSettings& inner_;
    Gate& gate_;
};

class GatedServices final : public RunAdapterServices {
  public:
    GatedServices(FakeServices& inner, Gate& gate) : inner_(inner), gate_(gate) {}
    bool GetActiveAdapter(std::u16string& n, std::u16string& g, std::u16string& i) override {
        return inner_.GetActiveAdapter(n, g, i);
    }
    ConnectionChange EnableConnection(const std::u16string& g, bool enable) override {
        gate_.Pass(enable ? Step::Enable : Step::Disable);
        return inner_.EnableConnection(g, enable);
    }
    bool CheckConnectivity() override { return inner_.CheckConnectivity(); }

  private:
    FakeServices& inner_;
    Gate& gate_;
};

// Answers WM_NULL sent from another thread, as the system and other programs ask a window.
LRESULT CALLBACK Plain(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

TEST_CASE(
    "While a step of Start or Stop is slow, the window answers and shows busy; a close meanwhile is safe") {
    InitUiTasks();
    WNDCLASSW wc{};
    wc.lpfnWndProc = Plain;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarnellRunControlAnswerTest";
    RegisterClassW(&wc);

    struct Row {
        const char* name;
        Step step;
        bool stopping;
        bool closeDuring;  // the window goes while the step blocks
    };
    const Row rows[] = {
        {"Start, the record's lock or registry slow", Step::Record, false, false},
        {"Start, the status record slow", Step::Status, false, false},
        {"Start, disabling the connection slow", Step::Disable, false, false},
        {"Stop, enabling the connection slow", Step::Enable, true, false},
        {"Stop, the record slow, closed meanwhile", Step::Record, true, true},
        {"Start, disabling slow, closed meanwhile", Step::Disable, false, true},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        HWND window = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, nullptr);
        REQUIRE(window);
        Gate gate{row.step};
        Log log;
        FakeView view{log};
        FakeSettings settingsInner{log};
        FakeTweaks tweaksInner{log};
        FakeServices servicesInner{log};
        tweaksInner.applied = row.stopping;
        GatedTweaks tweaks(tweaksInner, gate);
        GatedSettings settings(settingsInner, gate);
        GatedServices services(servicesInner, gate);
        FakeTexts texts;
        TThreadRunWorker worker([] { return true; });
        std::optional<TRunControl> control;
        control.emplace(view, settings, tweaks, services, worker, texts);
        view.onOptionClick = [&](TRunOption o, bool c) { control->OptionClick(o, c); };
        control->LoadState();

        // Another thread asks the window as the system would, every few milliseconds, until told to stop;
        // after 10 s it releases the step itself, so that a window that blocks fails instead of hanging.
        std::atomic<bool> stop{false}, stopped{false};
        // Set when the test is done asking: the asker's pause between questions ends on it.
        ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::atomic<DWORD> slowest{0};
        std::atomic<int> unanswered{0};
        std::thread asker([&] {
            const ULONGLONG watchdog = GetTickCount64() + 10000;
            while (!stop) {
                const ULONGLONG before = GetTickCount64();
                DWORD_PTR result = 0;
                if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &result))
                    ++unanswered;
                slowest = std::max<DWORD>(slowest, DWORD(GetTickCount64() - before));
                if (GetTickCount64() > watchdog) SetEvent(gate.release.get());
                WaitForSingleObject(done.get(), 5);  // the next question, or the end
            }
            stopped = true;
        });

        control->BtnStartClick();
        CHECK(control->Status() == stBusy);
        CHECK(view.indicatorVisible);
        CHECK(view.runCaption.empty());
        REQUIRE(
            WaitUntil([&] { return WaitForSingleObject(gate.entered.get(), 0) == WAIT_OBJECT_0; }, 10000));
        PumpFor(300);  // the step stays blocked while the window keeps answering
        CHECK(control->Status() == stBusy);
        if (row.closeDuring) {
            SetEvent(gate.release.get());
            control.reset();  // the window and its run control go; the worker's step goes on
            CHECK(WaitUntil([] { return RunningWorkers() == 0; }, 10000));
            PumpFor(50);
        } else {
            SetEvent(gate.release.get());
            REQUIRE(WaitUntil([&] { return control->Status() != stBusy; }, 10000));
            CHECK(control->Status() == (row.stopping ? stIdle : stRunning));
        }
        // The asker's last question is answered too: this thread keeps its queue running until it ends.
        stop = true;
        SetEvent(done.get());
        REQUIRE(WaitUntil([&] { return stopped.load(); }, 5000));
        asker.join();
        MESSAGE("slowest answer " << slowest.load() << " ms, " << unanswered.load() << " unanswered");
        // Generous: a window that waits on the step itself does not answer for seconds.
        CHECK(unanswered.load() == 0);
        CHECK(slowest.load() < 1000);
        CHECK(WaitUntil([] { return RunningWorkers() == 0; }, 5000));
        DestroyWindow(window);
    }
}
