#include "app/run_control.h"

#include <doctest/doctest.h>

#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

Log OptionsEnabled(bool on) {
    const std::string v = on ? "=1" : "=0";
    // The setter's order: ChkTCPAckFrequency, ChkTcpDelAckTick, ChkTcpNoDelay, ChkNetworkThrottlingIndex,
    // ChkSystemResponsiveness.
    return {"option.enabled tcpackfrequency" + v, "option.enabled tcpdelacktick" + v,
            "option.enabled tcpnodelay" + v, "option.enabled networkthrottleindex" + v,
            "option.enabled systemresponsiveness" + v};
}

Log Concat(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Log kIdleLook = Concat({"indicator.visible=0", "indicator.animating=0", "run.caption=Run",
                              "run.enabled=1", "run.down=0", "open Tarnell", "write status=0", "close"},
                             OptionsEnabled(true));
const Log kRunningLook = Concat({"indicator.visible=0", "indicator.animating=0", "run.caption=Running",
                                 "run.enabled=1", "run.down=1", "open Tarnell", "write status=1", "close"},
                                OptionsEnabled(false));
const Log kBusyLook =
    Concat({"indicator.visible=1", "indicator.animating=1", "run.caption=", "run.enabled=0", "run.down=0"},
           OptionsEnabled(false));

}  // namespace

TEST_CASE("SetStatus makes each status's effects in column order and records only idle and running") {
    struct Row {
        const char* name;
        TStatus from;
        TStatus status;
        const Log& expected;
        TStatus after;
    };
    const Row rows[] = {
        {"idle", stBusy, stIdle, kIdleLook, stIdle},
        {"running", stBusy, stRunning, kRunningLook, stRunning},
        {"busy", stIdle, stBusy, kBusyLook, stBusy},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        RunRig rig;
        rig.rc().SetStatus(row.from);
        rig.log.clear();
        rig.rc().SetStatus(row.status);
        CHECK(rig.log == row.expected);
        CHECK(rig.rc().Status() == row.after);
        CHECK(rig.view.errorBoxes.empty());
    }
}

TEST_CASE(
    "SetStatus with a byte outside the enumeration only re-applies the option switches' enabled state") {
    for (TStatus from : {stIdle, stRunning, stBusy}) {
        CAPTURE(int(from));
        RunRig rig;
        rig.rc().SetStatus(from);
        rig.log.clear();
        rig.rc().SetStatus(static_cast<TStatus>(7));
        CHECK(rig.log == OptionsEnabled(from == stIdle));
        CHECK(rig.rc().Status() == from);
    }
}

TEST_CASE("SetStatus shows the error box before anything changes") {
    RunRig rig;
    rig.rc().SetStatus(stRunning);
    rig.log.clear();
    rig.rc().SetStatus(stIdle, u"boom");
    CHECK(rig.log == Concat({"errorbox boom"}, kIdleLook));
}

TEST_CASE("LoadState on a first start restores every switch on, writes five trues and records idle") {
    RunRig rig;
    rig.rc().LoadState();

    Log expected = {"services.discover", "adapter=Ethernet", "ip=IP: 192.0.2.2", "open Tarnell"};
    // Restored in this order; each switch turned on runs its click handler, which writes through a
    // store instance of its own while the reading one is still open.
    for (std::string key :
         {"tcpnodelay", "tcpackfrequency", "tcpdelacktick", "networkthrottleindex", "systemresponsiveness"}) {
        expected.insert(expected.end(), {"read " + key, "option.checked " + key + "=1", "open Tarnell",
                                         "write " + key + "=true", "close"});
    }
    expected = Concat(Concat(expected, {"read status", "close"}), kIdleLook);
    CHECK(rig.log == expected);

    CHECK(rig.settings.booleans.size() == 5);
    for (const auto& [key, value] : rig.settings.booleans) CHECK(value);
    CHECK(rig.settings.integers == std::map<std::u16string, int32_t>{{u"status", 0}});
    CHECK(rig.rc().NetworkGUID == u"{G}");
    CHECK(rig.rc().NetworkName == u"Ethernet");
    CHECK(rig.rc().NetworkIP == u"192.0.2.2");
    CHECK(rig.settings.openInstances == 0);
}

TEST_CASE("LoadState leaves a switch recorded off untouched and writes nothing for it") {
    RunRig rig;
    rig.settings.booleans[u"tcpdelacktick"] = false;
    rig.settings.booleans[u"systemresponsiveness"] = false;
    rig.rc().LoadState();

    CHECK(rig.Entries("write tcp") == Log{"write tcpnodelay=true", "write tcpackfrequency=true"});
    CHECK(rig.Entries("write systemresponsiveness").empty());
    CHECK(rig.Entries("write tcpdelacktick").empty());
    CHECK_FALSE(rig.view.OptionChecked(TRunOption::TcpDelAckTick));
    CHECK_FALSE(rig.view.OptionChecked(TRunOption::SystemResponsiveness));
    CHECK(rig.view.OptionChecked(TRunOption::NetworkThrottlingIndex));
}

TEST_CASE("LoadState shows what the machine's record says and writes it back as this user's status") {
    // The user's own recorded status decides nothing: a stale "running" (another account gave the tweak
    // set back, or it was removed) never takes over values, and a newer version's record shows on.
    struct Case {
        int32_t recorded;
        RecordState machine;
        TStatus shown;
    };
    const Case cases[] = {
        {.recorded = 0, .machine = RecordState::Off, .shown = stIdle},
        {.recorded = 0, .machine = RecordState::On, .shown = stRunning},
        {.recorded = 1, .machine = RecordState::On, .shown = stRunning},
        {.recorded = 1, .machine = RecordState::Off, .shown = stIdle},
        {.recorded = 257, .machine = RecordState::Off, .shown = stIdle},
        {.recorded = 2, .machine = RecordState::Off, .shown = stIdle},
        {.recorded = 2, .machine = RecordState::On, .shown = stRunning},
        {.recorded = -1, .machine = RecordState::Off, .shown = stIdle},
        {.recorded = 0, .machine = RecordState::Foreign, .shown = stRunning},
    };
    for (const Case& c : cases) {
        CAPTURE(c.recorded);
        CAPTURE(int(c.machine));
        RunRig rig;
        rig.settings.integers[u"status"] = c.recorded;
        rig.tweaks.applied = c.machine == RecordState::On;
        rig.tweaks.foreign = c.machine == RecordState::Foreign;
        rig.tweaks.takeOverFinds = true;  // values that look applied are there: still nothing is taken over
        rig.rc().LoadState();

        CHECK(rig.rc().Status() == c.shown);
        const bool running = c.shown == stRunning;
        CHECK(rig.view.runCaption == (running ? u"Running" : u"Run"));
        CHECK(rig.view.runDown == running);
        CHECK(rig.view.runEnabled);
        CHECK_FALSE(rig.view.indicatorVisible);
        CHECK_FALSE(rig.view.indicatorAnimating);
        for (bool enabled : rig.view.optionEnabled) CHECK(enabled == !running);
        CHECK(rig.settings.integers[u"status"] == int32_t(c.shown));
        // Showing the status never changes a tweak value, cycles or probes.
        CHECK(rig.Entries("tweaks").empty());
        CHECK(rig.Entries("services.enable").empty());
        CHECK(rig.Entries("services.probe").empty());
        CHECK(rig.worker.pending.empty());
    }
}

TEST_CASE("A record held past the lock's bound, or a newer version's, changes nothing: one line, old look") {
    struct Case {
        const char* name;
        bool running;  // the look before the click: Stop when running, else Start
        bool busy;     // else a newer version's record
        const char16_t* line;
    };
    const Case cases[] = {
        {.name = "Start, busy", .running = false, .busy = true, .line = u"[busy]"},
        {.name = "Stop, busy", .running = true, .busy = true, .line = u"[busy]"},
        {.name = "Start, newer version", .running = false, .busy = false, .line = u"[foreign]"},
        {.name = "Stop, newer version", .running = true, .busy = false, .line = u"[foreign]"},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        RunRig rig;
        rig.tweaks.applied = c.running;
        rig.rc().LoadState();
        rig.settings.integers[u"status"] = 9;  // whatever is recorded stays: nothing changed
        rig.tweaks.busy = c.busy;
        rig.tweaks.foreign = !c.busy;
        rig.log.clear();

        rig.rc().BtnStartClick();
        CHECK(rig.rc().Status() == stBusy);  // the window waits for the record's lock off its thread
        rig.worker.Finish();
        CHECK(rig.view.errorBoxes == std::vector<std::u16string>{c.line});
        CHECK(rig.rc().Status() == (c.running ? stRunning : stIdle));
        CHECK(rig.view.runCaption == (c.running ? u"Running" : u"Run"));
        CHECK(rig.view.runEnabled);
        CHECK_FALSE(rig.view.indicatorVisible);
        CHECK(rig.Entries("services.enable").empty());
        // The look's own write of the status it returns to, and nothing else.
        CHECK(rig.settings.integers[u"status"] == (c.running ? 1 : 0));
    }
}

TEST_CASE("LoadState without an adapter shows the placeholder and clears what discovery left behind") {
    RunRig rig;
    rig.services.found = false;
    rig.rc().LoadState();
    CHECK(rig.rc().NetworkName == u"Unknown");
    CHECK(rig.rc().NetworkGUID.empty());
    CHECK(rig.rc().NetworkIP.empty());
    CHECK(rig.view.adapterCaption == u"Unknown");
    CHECK(rig.view.ipCaption == u"IP: ");
}

TEST_CASE("The window's two steps: switches and status without asking for the adapter, the adapter once") {
    struct Case {
        const char* name;
        bool runningRecord;
        bool findFirst;  // FindAdapter runs before the click (the timer after the first frame came first)
        Log clickStarts;
    };
    const Case cases[] = {
        {"a click before the adapter was looked for finds it first, then starts", false, false,
         Concat({"services.discover", "adapter=Ethernet", "ip=IP: 192.0.2.2"},
                Concat(kBusyLook, {"worker.start"}))},
        {"a click after it starts at once", false, true, Concat(kBusyLook, {"worker.start"})},
        {"a click in the running look finds the adapter to give back through", true, false,
         Concat({"services.discover", "adapter=Ethernet", "ip=IP: 192.0.2.2"},
                Concat(kBusyLook, {"worker.start"}))},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        RunRig rig;
        rig.tweaks.applied = c.runningRecord;
        rig.rc().LoadSavedState();
        CHECK(rig.Entries("services.").empty());
        CHECK(rig.rc().Status() == (c.runningRecord ? stRunning : stIdle));
        if (c.findFirst) {
            rig.rc().FindAdapter();
            rig.rc().FindAdapter();  // the card opened too: asked once all the same
            CHECK(rig.Entries("services.discover").size() == 1);
        }
        rig.log.clear();
        rig.rc().BtnStartClick();
        CHECK(rig.log == c.clickStarts);
        rig.worker.Finish();
        CHECK(rig.Entries("services.enable {G}=1").size() == 1);
    }
}

TEST_CASE("A settings value LoadState cannot read escapes to the caller with the store freed") {
    RunRig rig;
    rig.settings.badValue = u"tcpdelacktick";
    CHECK_THROWS_AS(rig.rc().LoadState(), std::runtime_error);
    CHECK(rig.settings.openInstances == 0);
    CHECK(rig.log.back() == "close");
    CHECK(rig.Entries("read status").empty());  // the later steps are not done
    CHECK(rig.Entries("run.").empty());
}

TEST_CASE("BtnStartClick in each status") {
    SUBCASE("idle with an adapter starts: busy at once, then on the worker the tweaks, status, cycle, wait") {
        RunRig rig;
        rig.rc().LoadState();
        rig.view.SetOptionChecked(TRunOption::TcpDelAckTick, false);  // the user unticks one while idle
        rig.log.clear();

        // The UI thread shows the busy look and hands everything else to the worker.
        rig.rc().BtnStartClick();
        CHECK(rig.log == Concat(kBusyLook, {"worker.start"}));
        CHECK(rig.rc().Status() == stBusy);

        // The recorded status follows the registry as soon as the values are written, before the
        // connection is cycled and the wait begins: a program ended during the wait starts again running.
        rig.log.clear();
        rig.worker.Finish();
        CHECK(rig.log == Concat({"tweaks.apply 10111 {G}", "open Tarnell", "write status=1", "close",
                                 "services.enable {G}=0", "services.enable {G}=1"},
                                kRunningLook));
        CHECK(rig.rc().Status() == stRunning);
        CHECK(rig.settings.integers[u"status"] == 1);
    }
    SUBCASE("idle without an adapter shows the error box, stays idle and records 0") {
        RunRig rig;
        rig.services.found = false;
        rig.rc().LoadState();
        rig.log.clear();

        rig.rc().BtnStartClick();
        CHECK(rig.log == Concat({"errorbox There are no active networks."}, kIdleLook));
        CHECK(rig.rc().Status() == stIdle);
        CHECK(rig.settings.integers[u"status"] == 0);
        CHECK(rig.worker.pending.empty());
    }
    SUBCASE("running stops: busy at once, then on the worker the record given back, status, cycle, wait") {
        RunRig rig;
        rig.tweaks.applied = true;
        rig.rc().LoadState();
        rig.log.clear();

        rig.rc().BtnStartClick();
        CHECK(rig.log == Concat(kBusyLook, {"worker.start"}));
        CHECK(rig.rc().Status() == stBusy);

        rig.log.clear();
        rig.worker.Finish();
        CHECK(rig.log == Concat({"tweaks.giveback", "open Tarnell", "write status=0", "close",
                                 "services.enable {G}=0", "services.enable {G}=1"},
                                kIdleLook));
        CHECK(rig.settings.integers[u"status"] == 0);
    }
    SUBCASE("busy does nothing, so a second click cannot start a second wait") {
        RunRig rig;
        rig.rc().LoadState();
        rig.rc().BtnStartClick();
        rig.log.clear();

        rig.rc().BtnStartClick();
        rig.rc().BtnStartClick();
        CHECK(rig.log.empty());
        CHECK(rig.worker.pending.size() == 1);
    }
}

TEST_CASE("Start with every option switch off applies nothing but still cycles, waits and ends running") {
    RunRig rig;
    rig.settings.booleans = {{u"tcpnodelay", false},
                             {u"tcpackfrequency", false},
                             {u"tcpdelacktick", false},
                             {u"networkthrottleindex", false},
                             {u"systemresponsiveness", false}};
    rig.rc().LoadState();
    rig.log.clear();

    rig.rc().BtnStartClick();
    REQUIRE(rig.worker.pending.size() == 1);
    rig.worker.Finish();
    CHECK(rig.Entries("tweaks") == Log{"tweaks.apply 00000 {G}"});
    CHECK(rig.Entries("services.enable") == Log{"services.enable {G}=0", "services.enable {G}=1"});
    CHECK(rig.rc().Status() == stRunning);
}

TEST_CASE("Stop gives back the machine's record whatever the option switches show") {
    RunRig rig;
    rig.tweaks.applied = true;
    rig.rc().LoadState();
    rig.view.CheckAll(false);
    rig.log.clear();

    rig.rc().Stop();
    REQUIRE(rig.worker.pending.size() == 1);
    rig.worker.Finish();
    CHECK(rig.Entries("tweaks") == Log{"tweaks.giveback"});
    CHECK(rig.rc().Status() == stIdle);
}

TEST_CASE("Stop without an adapter, or with nothing left to give back, settles idle without cycling") {
    struct Case {
        const char* name;
        bool adapterFound;
        bool recordLeft;  // false: another session or account gave it back after this window started
    };
    const Case cases[] = {
        {.name = "no adapter found at start-up", .adapterFound = false, .recordLeft = true},
        {.name = "record given back elsewhere", .adapterFound = true, .recordLeft = false},
        {.name = "both", .adapterFound = false, .recordLeft = false},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        RunRig rig;
        rig.services.found = c.adapterFound;
        rig.tweaks.applied = true;
        rig.rc().LoadState();
        REQUIRE(rig.rc().Status() == stRunning);
        rig.tweaks.applied = c.recordLeft;
        rig.log.clear();

        rig.rc().BtnStartClick();
        rig.worker.Finish();
        CHECK(rig.log == Concat(Concat(kBusyLook, {"worker.start", "tweaks.giveback", "open Tarnell",
                                                   "write status=0", "close"}),
                                kIdleLook));
        CHECK(rig.view.errorBoxes.empty());
        CHECK(rig.worker.pending.empty());
        CHECK(rig.rc().Status() == stIdle);
        CHECK(rig.settings.integers[u"status"] == 0);
    }
}

TEST_CASE("An option click records the switch's new state under its own key, one store instance per write") {
    for (TRunOption option : kRunOptions) {
        for (bool checked : {false, true}) {
            RunRig rig;
            rig.rc().OptionClick(option, checked);
            CHECK(rig.log ==
                  Log{"open Tarnell", "write " + Key(option) + "=" + (checked ? "true" : "false"), "close"});
        }
    }
}

TEST_CASE("A hand-over that arrives after the window's run control is gone does nothing") {
    RunRig rig;
    rig.rc().LoadState();
    rig.rc().BtnStartClick();
    rig.control.reset();
    rig.log.clear();

    // The system half still runs to its end (it reaches only the seams); the look is never touched.
    rig.worker.Finish();
    CHECK(rig.log == Log{"tweaks.apply 11111 {G}", "open Tarnell", "write status=1", "close",
                         "services.enable {G}=0", "services.enable {G}=1"});
}

// ---- the connectivity wait, with a virtual clock ----

namespace {

class FakeWait final : public ConnectivityWaitEnvironment {
  public:
    int answerAt = 0;          // 1-based probe that succeeds; 0 = never
    int terminateInProbe = 0;  // the application starts terminating during this probe
    int terminateInPause = 0;  // ... or during this pause
    int probes = 0, pauses = 0;
    std::chrono::milliseconds clock{0};
    std::vector<std::chrono::milliseconds> pauseLengths;
    bool terminating = false;

    bool CheckConnectivity() override {
        ++probes;
        if (probes == terminateInProbe) terminating = true;
        return answerAt != 0 && probes >= answerAt;
    }
    void Pause(std::chrono::milliseconds d) override {
        ++pauses;
        pauseLengths.push_back(d);
        if (pauses == terminateInPause) {
            terminating = true;  // the pause wakes at once
            return;
        }
        clock += d;
    }
    std::chrono::milliseconds Elapsed() override { return clock; }
    bool IsTerminating() override { return terminating; }
};

}  // namespace

TEST_CASE("ConnectivityWait probes until an answer, at most 300 times, 1000 ms apart") {
    struct Case {
        int answerAt;
        int probes;
        int pauses;
        bool answered;
    };
    const Case cases[] = {
        {1, 1, 0, true},
        {5, 5, 4, true},
        {300, 300, 299, true},
        {0, 300, 300, false},  // the pause also follows the 300th failure
    };
    for (const Case& c : cases) {
        CAPTURE(c.answerAt);
        FakeWait env;
        env.answerAt = c.answerAt;
        const TWaitResult r = ConnectivityWait(env);
        CHECK(r.probes == c.probes);
        CHECK(env.probes == c.probes);
        CHECK(r.pauses == c.pauses);
        CHECK(r.answered == c.answered);
        CHECK_FALSE(r.terminated);
        CHECK(env.clock == std::chrono::milliseconds(1000) * c.pauses);
        for (auto d : env.pauseLengths) CHECK(d == std::chrono::milliseconds(1000));
    }
}

TEST_CASE("RunAndHandOver settles the target after an answer or after 300 failures, without a message") {
    for (int answerAt : {3, 0}) {
        CAPTURE(answerAt);
        RunRig rig;
        rig.rc().LoadState();
        rig.rc().BtnStartClick();
        FakeWait env;
        env.answerAt = answerAt;
        int handOvers = 0;
        const FakeWorker::Pending& pending = rig.worker.pending.front();
        const bool ran = RunAndHandOver(
            env, pending.job,
            [&](const std::function<void()>& fn) {
                ++handOvers;
                fn();
                return true;
            },
            pending.settle);
        CHECK(ran);
        CHECK(handOvers == 1);
        CHECK(rig.rc().Status() == stRunning);
        CHECK(rig.view.errorBoxes.empty());
        CHECK(env.clock == std::chrono::milliseconds(answerAt == 0 ? 300000 : 2000));
    }
}

TEST_CASE("A cycle that failed settles in the new look with one line; the values stay written and recorded") {
    struct Row {
        const char* name;
        bool stopping;
        bool unavailable;  // else refused
    };
    const Row rows[] = {
        {"Start, refused", false, false},
        {"Stop, refused", true, false},
        // A system without the connections manager (Wine) cycles nothing and reports nothing.
        {"Start, no connections manager", false, true},
        {"Stop, no connections manager", true, true},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        RunRig rig;
        rig.tweaks.applied = row.stopping;
        rig.rc().LoadState();
        rig.services.cycleFails = !row.unavailable;
        rig.services.noConnections = row.unavailable;
        rig.rc().BtnStartClick();
        FakeWait wait;
        wait.answerAt = 1;
        const TRunOutcome outcome = rig.worker.Finish(wait);
        CHECK(outcome.cycled);
        CHECK(outcome.cycleFailed == !row.unavailable);
        // Both halves were asked for: an adapter must not be left disabled.
        CHECK(rig.Entries("services.enable") == Log{"services.enable {G}=0", "services.enable {G}=1"});
        CHECK(rig.view.errorBoxes == (row.unavailable ? std::vector<std::u16string>{}
                                                      : std::vector<std::u16string>{u"[cycle failed]"}));
        CHECK(rig.rc().Status() == (row.stopping ? stIdle : stRunning));
        CHECK(rig.settings.integers[u"status"] == (row.stopping ? 0 : 1));
        CHECK(rig.tweaks.applied == !row.stopping);
    }
}

TEST_CASE("Terminating during the wait stops it at once and never hands over") {
    struct Case {
        const char* when;
        bool before;
        int inProbe;
        int inPause;
        int probes;
        int pauses;
    };
    const Case cases[] = {
        {"before the wait", true, 0, 0, 0, 0},
        {"during the 3rd pause", false, 0, 3, 3, 3},
        {"during the 4th probe", false, 4, 0, 4, 3},
        {"during the last pause", false, 0, 300, 300, 300},
    };
    for (const Case& c : cases) {
        CAPTURE(c.when);
        FakeWait env;
        env.terminating = c.before;
        env.terminateInProbe = c.inProbe;
        env.terminateInPause = c.inPause;
        int handOvers = 0;
        int settled = 0;
        const bool ran = RunAndHandOver(
            env,
            [](ConnectivityWaitEnvironment& wait) {
                TRunOutcome outcome;
                outcome.wait = ConnectivityWait(wait);
                return outcome;
            },
            [&](const std::function<void()>& fn) {
                ++handOvers;
                fn();
                return true;
            },
            [&](const TRunOutcome&) { ++settled; });
        CHECK_FALSE(ran);
        CHECK(handOvers == 0);
        CHECK(settled == 0);
        CHECK(env.probes == c.probes);
        CHECK(env.pauses == c.pauses);
    }
}

TEST_CASE("DescribeOutcome: one log line for what a Start or Stop did, the cycle and the wait") {
    struct Row {
        TRunAction action;
        RecordResult record;
        bool cycled, failed, unavailable, answered, terminated;
        int probes;
        long long ms;
        const char16_t* line;
    };
    const Row rows[] = {
        {TRunAction::Apply, RecordResult::Done, true, false, false, true, false, 2, 1004,
         u"start: values written; the adapter's connection was disabled and enabled again; wait of 1004 ms, "
         u"2 "
         u"probes: the internet answered"},
        {TRunAction::GiveBack, RecordResult::Done, true, true, false, false, false, 300, 300000,
         u"stop: values given back; the adapter's connection could not be disabled and enabled again; wait "
         u"of "
         u"300000 ms, 300 probes: the internet did not answer in time"},
        {TRunAction::Apply, RecordResult::Nothing, true, false, true, false, true, 1, 5,
         u"start: no value to write; no connections manager on this system, nothing cycled; wait of 5 ms, 1 "
         u"probe: stopped, the program is closing"},
        {TRunAction::GiveBack, RecordResult::Nothing, false, false, false, false, false, 0, 0,
         u"stop: nothing to give back; no adapter cycled"},
        {TRunAction::Apply, RecordResult::Busy, false, false, false, false, false, 0, 0,
         u"start: the record was busy; nothing changed"},
    };
    for (const Row& row : rows) {
        TRunOutcome outcome;
        outcome.action = row.action;
        outcome.record = row.record;
        outcome.cycled = row.cycled;
        outcome.cycleFailed = row.failed;
        outcome.cycleUnavailable = row.unavailable;
        outcome.wait.answered = row.answered;
        outcome.wait.terminated = row.terminated;
        outcome.wait.probes = row.probes;
        outcome.wait.elapsed = std::chrono::milliseconds(row.ms);
        CHECK(U8(DescribeOutcome(outcome)) == U8(row.line));
    }
}
