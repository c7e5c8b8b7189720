#include "app/run_control_tweaks.h"

#include <doctest/doctest.h>

#include "../tuning/fake_machine_registry.h"
#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

// One window's run control over the real record and catalogue, on a machine shared with other windows
// (other sessions, other accounts: each has its own settings, the machine is one).
struct Window {
    Log log;
    FakeView view{log};
    FakeSettings settings{log};
    FakeServices services{log};
    FakeWorker worker{log};
    FakeTexts texts;
    FakeRecordLock lock;
    TRecordRunTweaks tweaks;
    TRunControl control{view, settings, tweaks, services, worker, texts};

    Window(FakeMachineRegistry& machine, const std::u16string& guid) : tweaks(machine, lock) {
        services.guid = guid;
        services.found = !guid.empty();
        view.onOptionClick = [this](TRunOption o, bool c) { control.OptionClick(o, c); };
        control.LoadState();
    }
    void Click() {
        control.BtnStartClick();
        while (!worker.pending.empty()) worker.Finish();
    }
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : log)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
};

void CheckSame(const FakeMachineRegistry& actual, const FakeMachineRegistry& expected) {
    INFO(actual.Diff(expected));
    CHECK(actual == expected);
}

}  // namespace

TEST_CASE("Each option switch's settings key is its catalogue row's key") {
    const std::pair<TRunOption, std::u16string> keys[] = {
        {TRunOption::TcpAckFrequency, u"tcpackfrequency"},
        {TRunOption::TcpDelAckTick, u"tcpdelacktick"},
        {TRunOption::TcpNoDelay, u"tcpnodelay"},
        {TRunOption::NetworkThrottlingIndex, u"networkthrottleindex"},
        {TRunOption::SystemResponsiveness, u"systemresponsiveness"},
    };
    REQUIRE(std::size(keys) == kRunOptions.size());
    for (size_t i = 0; i < kRunOptions.size(); ++i) {
        CAPTURE(i);
        CHECK(kRunOptions[i] == keys[i].first);
        CHECK(std::u16string(OptionSettingsKey(keys[i].first)) == keys[i].second);
    }
}

TEST_CASE("Start writes the values of the switches that are on, in catalogue order, each recorded first") {
    FakeMachineRegistry machine = FakeMachineRegistry::Fresh();
    std::vector<std::string> changes;
    machine.beforeChange = [&](const std::u16string& path, const std::u16string& name) {
        changes.push_back(U8(path) + " " + U8(name));
    };
    Window w(machine, kTestGuid);
    w.view.SetOptionChecked(TRunOption::TcpDelAckTick, false);
    w.view.SetOptionChecked(TRunOption::SystemResponsiveness, false);
    changes.clear();
    w.Click();

    const std::string record = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorbeck\\Tarnell\\Applied ";
    const std::string adapter = U8(kAdapterKey);
    const std::string msmq = U8(kMsmqKey);
    const std::string profile = U8(kProfileKey);
    // Every entry before the first value: the record is flushed between them (see the record's tests).
    CHECK(changes == std::vector<std::string>{
                         record + "Format",
                         record + adapter + "\\TcpAckFrequency",
                         record + msmq + "\\TCPNoDelay",
                         record + profile + "\\NetworkThrottlingIndex",
                         adapter + " TcpAckFrequency",
                         msmq + " TCPNoDelay",
                         profile + " NetworkThrottlingIndex",
                     });
    CHECK(w.control.Status() == stRunning);
}

// Rows: where the window that stops runs, against the wired adapter the tweak set was applied on.
TEST_CASE("Stop gives back the adapter the tweak set was applied on, whichever adapter is active now") {
    struct Row {
        const char* name;
        std::u16string guidAtStop;
        std::vector<std::string> cycledAtStop;
    };
    const Row rows[] = {
        {.name = "the same adapter",
         .guidAtStop = kTestGuid,
         .cycledAtStop = {"services.enable " + U8(kTestGuid) + "=0",
                          "services.enable " + U8(kTestGuid) + "=1"}},
        {.name = "another adapter (Wi-Fi now)",
         .guidAtStop = kOtherGuid,
         .cycledAtStop = {"services.enable " + U8(kOtherGuid) + "=0",
                          "services.enable " + U8(kOtherGuid) + "=1"}},
        {.name = "no adapter", .guidAtStop = u"", .cycledAtStop = {}},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        FakeMachineRegistry machine = FakeMachineRegistry::Fresh();
        machine.Set(kAdapterKey, u"TcpDelAckTicks", DwordValue(4));  // the user's own
        const FakeMachineRegistry before = machine;
        {
            Window first(machine, kTestGuid);
            first.Click();
            REQUIRE(first.control.Status() == stRunning);
            REQUIRE(machine.Get(kAdapterKey, u"TcpAckFrequency") != nullptr);
        }
        Window later(machine, row.guidAtStop);
        CHECK(later.control.Status() == stRunning);
        later.log.clear();
        later.Click();
        CHECK(later.control.Status() == stIdle);
        CHECK(later.Entries("services.enable") == row.cycledAtStop);
        CheckSame(machine, before);
    }
}

TEST_CASE("Another account sees the machine's state, not its own record, and can give it back") {
    FakeMachineRegistry machine = FakeMachineRegistry::Fresh();
    const FakeMachineRegistry before = machine;
    Window alice(machine, kTestGuid);
    alice.Click();
    REQUIRE(alice.control.Status() == stRunning);

    // Bob never opened the window (no settings at all), or his record says idle.
    Window bob(machine, kTestGuid);
    CHECK(bob.control.Status() == stRunning);
    CHECK(bob.settings.integers[u"status"] == 1);
    bob.Click();
    CHECK(bob.control.Status() == stIdle);
    CheckSame(machine, before);

    // Alice's window still shows running; her Stop finds nothing to give back and changes nothing.
    alice.log.clear();
    alice.Click();
    CHECK(alice.control.Status() == stIdle);
    CHECK(alice.Entries("services").empty());
    CheckSame(machine, before);
}

TEST_CASE(
    "Start with every switch off writes no value and no record: it settles running, the machine says off") {
    FakeMachineRegistry machine = FakeMachineRegistry::Fresh();
    const FakeMachineRegistry before = machine;
    {
        Window w(machine, kTestGuid);
        w.view.CheckAll(false);
        w.Click();
        CHECK(w.control.Status() == stRunning);
        CheckSame(machine, before);
    }
    Window again(machine, kTestGuid);
    CHECK(again.control.Status() == stIdle);
}

TEST_CASE(
    "A user's stale running never takes over values that look applied: nothing is changed or given back") {
    // Values equal to the tweak set's own, set by hand (or left by a version without the record that the
    // installer did not take over), and this user's "status" still 1 from before.
    FakeMachineRegistry machine = FakeMachineRegistry::Fresh();
    machine.Set(kAdapterKey, u"TcpAckFrequency", DwordValue(1));
    machine.Set(kMsmqKey, u"TCPNoDelay", DwordValue(1));
    machine.Set(kProfileKey, u"SystemResponsiveness", DwordValue(0));
    const FakeMachineRegistry before = machine;

    Log log;
    FakeSettings settings{log};
    settings.integers[u"status"] = 1;
    FakeView view{log};
    FakeServices services{log};
    services.guid = kTestGuid;
    FakeWorker worker{log};
    FakeTexts texts;
    FakeRecordLock lock;
    TRecordRunTweaks tweaks(machine, lock);
    TRunControl control{view, settings, tweaks, services, worker, texts};
    view.onOptionClick = [&](TRunOption o, bool c) { control.OptionClick(o, c); };
    control.LoadState();
    CHECK(control.Status() == stIdle);
    CHECK(settings.integers[u"status"] == 0);
    CheckSame(machine, before);

    // Start and Stop: the hand-set values come back exactly, not removed or reset to 10/20.
    control.BtnStartClick();
    while (!worker.pending.empty()) worker.Finish();
    REQUIRE(control.Status() == stRunning);
    control.BtnStartClick();
    while (!worker.pending.empty()) worker.Finish();
    CHECK(control.Status() == stIdle);
    CheckSame(machine, before);
}
