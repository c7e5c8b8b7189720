// The command line's rules: which arguments name which command, what each command does in which order,
// and the bounded connectivity wait on a simulated clock.
#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;
using std::chrono::milliseconds;

namespace {

// A simulated clock: a probe takes `probeTime`, a pause exactly its duration; probes answer from
// `answerAt` (1-based) on, never when 0.
struct FakeWait final : CommandWaitEnvironment {
    int answerAt = 0;
    milliseconds probeTime{0};
    milliseconds now{0};
    std::vector<std::string> events;

    bool CheckConnectivity() override {
        const int probe = int(std::count(events.begin(), events.end(), std::string("probe"))) + 1;
        events.push_back("probe");
        now += probeTime;
        return answerAt != 0 && probe >= answerAt;
    }
    milliseconds Elapsed() override { return now; }
    void Pause(milliseconds d) override {
        events.push_back("pause " + std::to_string(d.count()));
        now += d;
    }
};

}  // namespace

TEST_CASE("ParseCommandLine: only one of the three options, exactly as written, names a command") {
    struct Row {
        std::vector<std::u16string> args;
        TCommand expected;
    };
    const Row rows[] = {
        {{}, TCommand::Window},
        {{u"--revert"}, TCommand::Revert},
        {{u"--apply"}, TCommand::Apply},
        {{u"--status"}, TCommand::Status},
        {{u""}, TCommand::Invalid},
        {{u"--REVERT"}, TCommand::Invalid},
        {{u"-revert"}, TCommand::Invalid},
        {{u"/revert"}, TCommand::Invalid},
        {{u"revert"}, TCommand::Invalid},
        {{u"--revert "}, TCommand::Invalid},
        {{u"--statusx"}, TCommand::Invalid},
        {{u"--revert", u"--apply"}, TCommand::Invalid},
        {{u"--status", u"--status"}, TCommand::Invalid},
        {{u"--revert", u""}, TCommand::Invalid},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const auto& a : row.args) shown += "[" + U8(a) + "]";
        CAPTURE(shown);
        CHECK(ParseCommandLine(row.args) == row.expected);
    }
}

TEST_CASE("RunCommand: effects in order and the exit code, for each command and situation") {
    struct Row {
        const char* name;
        TCommand command;
        bool adapterFound;
        int answerAt;  // the wait's probe that answers; 0: none does
        int expectedCode;
        std::vector<std::string> expectedLog;
    };
    const std::vector<std::string> cycle = {"services.enable {G}=0", "services.enable {G}=1"};
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> applyReads = {
        "open Tarnell",        "read tcpackfrequency",      "read tcpdelacktick", "read tcpnodelay",
        "read networkthrottleindex", "read systemresponsiveness", "close"};
    const Row rows[] = {
        {"revert", TCommand::Revert, true, 1, 0,
         join({"services.discover", "tweaks.revert {G}", "open Tarnell", "write status=0", "close"}, cycle)},
        {"revert, internet does not come back", TCommand::Revert, true, 0, 4,
         join({"services.discover", "tweaks.revert {G}", "open Tarnell", "write status=0", "close"}, cycle)},
        {"revert without adapter", TCommand::Revert, false, 1, 3, {"services.discover"}},
        {"apply", TCommand::Apply, true, 3, 0,
         join(join(join({"services.discover"}, applyReads),
                   {"tweaks.apply 11111 {G}", "open Tarnell", "write status=1", "close"}),
              cycle)},
        {"apply, internet does not come back", TCommand::Apply, true, 0, 4,
         join(join(join({"services.discover"}, applyReads),
                   {"tweaks.apply 11111 {G}", "open Tarnell", "write status=1", "close"}),
              cycle)},
        {"apply without adapter", TCommand::Apply, false, 1, 3, {"services.discover"}},
        {"invalid", TCommand::Invalid, true, 1, 2, {}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        Log log;
        FakeSettings settings(log);
        FakeTweaks tweaks(log);
        FakeServices services(log);
        services.found = row.adapterFound;
        FakeWait wait;
        wait.answerAt = row.answerAt;
        const int code = RunCommand(row.command, settings, tweaks, services, wait, milliseconds(2500));
        CHECK(code == row.expectedCode);
        CHECK(log == row.expectedLog);
        // The wait runs only after a cycle, and gives up at the limit.
        const bool cycled = std::find(log.begin(), log.end(), "services.enable {G}=1") != log.end();
        CHECK(wait.events.empty() == !cycled);
        if (cycled && row.answerAt == 0) CHECK(wait.now == milliseconds(2500));
    }
}

TEST_CASE("RunCommand --apply: the recorded option switches choose the tweaks; unreadable ones count as on") {
    Log log;
    FakeSettings settings(log);
    FakeTweaks tweaks(log);
    FakeServices services(log);
    FakeWait wait;
    wait.answerAt = 1;
    settings.booleans[u"tcpnodelay"] = false;            // third in the catalogue
    settings.booleans[u"systemresponsiveness"] = false;  // fifth
    settings.booleans[u"tcpackfrequency"] = true;
    settings.badValue = u"tcpdelacktick";  // stored with the wrong type
    CHECK(RunCommand(TCommand::Apply, settings, tweaks, services, wait) == 0);
    CHECK(std::count(log.begin(), log.end(), "tweaks.apply 11010 {G}") == 1);
    CHECK(settings.integers[u"status"] == 1);
    // Nothing but the status is written: the option switches stay as recorded.
    CHECK(settings.booleans.size() == 3);
}

TEST_CASE("RunCommand --status: 0 for idle, 1 for running, read like the window reads it, nothing written") {
    struct Row {
        bool present;
        int32_t recorded;
        int expected;
    };
    const Row rows[] = {{false, 0, 0}, {true, 0, 0}, {true, 1, 1}, {true, 2, 0},
                        {true, 257, 1}, {true, 256, 0}, {true, -1, 0}};
    for (const Row& row : rows) {
        CAPTURE(row.present);
        CAPTURE(row.recorded);
        Log log;
        FakeSettings settings(log);
        FakeTweaks tweaks(log);
        FakeServices services(log);
        FakeWait wait;
        if (row.present) settings.integers[u"status"] = row.recorded;
        CHECK(RunCommand(TCommand::Status, settings, tweaks, services, wait) == row.expected);
        CHECK(log == std::vector<std::string>{"open Tarnell", "read status", "close"});
        CHECK(wait.events.empty());
    }
}

TEST_CASE("CommandConnectivityWait: probes a second apart until an answer or the deadline") {
    struct Row {
        const char* name;
        int answerAt;
        int probeMs;
        int limitMs;
        bool expected;
        std::vector<std::string> events;
        int endMs;
    };
    const Row rows[] = {
        {"first probe answers", 1, 0, 60000, true, {"probe"}, 0},
        {"third probe answers", 3, 0, 60000, true, {"probe", "pause 1000", "probe", "pause 1000", "probe"}, 2000},
        {"no answer: last pause cut at the deadline, one probe after it",
         0,
         0,
         2500,
         false,
         {"probe", "pause 1000", "probe", "pause 1000", "probe", "pause 500", "probe"},
         2500},
        {"probes that time out count against the deadline",
         0,
         3000,
         5000,
         false,
         {"probe", "pause 1000", "probe"},
         7000},
        {"a zero limit probes once", 0, 0, 0, false, {"probe"}, 0},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        FakeWait wait;
        wait.answerAt = row.answerAt;
        wait.probeTime = milliseconds(row.probeMs);
        CHECK(CommandConnectivityWait(wait, milliseconds(row.limitMs)) == row.expected);
        CHECK(wait.events == row.events);
        CHECK(wait.now == milliseconds(row.endMs));
    }
}
