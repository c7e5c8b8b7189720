// The command line's rules: which arguments name which command, what each command does in which order,
// and the bounded connectivity wait on a simulated clock.
#include "app/command_line.h"

#include <doctest/doctest.h>

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "run_control_fakes.h"

using namespace tarnell;
using namespace tarnell::test;
using std::chrono::milliseconds;

namespace {

// A simulated clock: a probe takes `probeTime`, a pause exactly its duration; probes answer from
// `answerAt` (1-based) on, never when 0.
struct FakeWait final : ConnectivityWaitEnvironment {
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
    bool IsTerminating() override { return false; }  // a command is never told to end
};

}  // namespace

TEST_CASE("ParseCommandLine: one switch in any letter case, after -, -- or /; other arguments ignored") {
    struct Row {
        std::vector<std::u16string> args;
        TCommand expected;
    };
    const Row rows[] = {
        {{}, TCommand::Window},
        {{u"--revert"}, TCommand::Revert},
        {{u"--apply"}, TCommand::Apply},
        {{u"--status"}, TCommand::Status},
        {{u"--uninstall"}, TCommand::Uninstall},
        {{u"--takeover"}, TCommand::TakeOver},
        {{u"--status", u"--tsv"}, TCommand::StatusTable},
        {{u"/TSV", u"-status"}, TCommand::StatusTable},
        {{u"--tsv"}, TCommand::Invalid},
        {{u"--apply", u"--tsv"}, TCommand::Invalid},
        {{u"--status", u"--tsv", u"--tsv"}, TCommand::Invalid},
        {{u"/TakeOver"}, TCommand::TakeOver},
        // What Windows users type.
        {{u"/apply"}, TCommand::Apply},
        {{u"--APPLY"}, TCommand::Apply},
        {{u"/Revert"}, TCommand::Revert},
        {{u"--Status"}, TCommand::Status},
        {{u"-status"}, TCommand::Status},
        {{u"/UNINSTALL"}, TCommand::Uninstall},
        {{u"--help"}, TCommand::Help},
        {{u"/?"}, TCommand::Help},
        {{u"-?"}, TCommand::Help},
        {{u"/HELP"}, TCommand::Help},
        // A file dropped on the exe, "Open with", a shortcut's argument: the window as without arguments.
        {{u"C:\\Users\\me\\Downloads\\notes.txt"}, TCommand::Window},
        {{u"\\\\server\\share\\a b.cfg"}, TCommand::Window},
        {{u"revert"}, TCommand::Window},
        {{u""}, TCommand::Window},
        {{u"C:\\a.txt", u"D:\\b.txt"}, TCommand::Window},
        {{u"C:\\a.txt", u"/status"}, TCommand::Status},
        {{u"--apply", u"C:\\a.txt"}, TCommand::Apply},
        // Unknown switches and two switches still answer 2.
        {{u"--stop"}, TCommand::Invalid},
        {{u"/x"}, TCommand::Invalid},
        {{u"-"}, TCommand::Invalid},
        {{u"--"}, TCommand::Invalid},
        {{u"/"}, TCommand::Invalid},
        {{u"---apply"}, TCommand::Invalid},
        {{u"--revert "}, TCommand::Invalid},
        {{u"--statusx"}, TCommand::Invalid},
        {{u"/apply:now"}, TCommand::Invalid},
        {{u"--\u0130apply"}, TCommand::Invalid},  // not ASCII "I": no case folding beyond ASCII
        {{u"--revert", u"--apply"}, TCommand::Invalid},
        {{u"--status", u"--status"}, TCommand::Invalid},
        {{u"/status", u"--STATUS"}, TCommand::Invalid},
        {{u"C:\\a.txt", u"--nope"}, TCommand::Invalid},
        {{u"--revert", u""}, TCommand::Revert},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const auto& a : row.args) shown += "[" + U8(a) + "]";
        CAPTURE(shown);
        CHECK(ParseCommandLine(row.args) == row.expected);
    }
}

TEST_CASE(
    "CommandLineHasArguments: anything after the program's name, the name read as the system splits it") {
    struct Row {
        const char16_t* line;
        bool expected;
    };
    const Row rows[] = {
        {u"", false},
        {u"tarnell.exe", false},
        {u"C:\\Apps\\tarnell.exe   \t ", false},
        {u"\"C:\\Program Files\\Tarnell\\tarnell.exe\"", false},
        {u"\"C:\\Program Files\\Tarnell\\tarnell.exe\" \t", false},
        {u"\"C:\\Program Files\\Tar nell.exe", false},  // no closing quote: the whole line is the name
        {u"tarnell.exe --apply", true},
        {u"tarnell.exe\t/?", true},
        {u"\"C:\\Program Files\\Tarnell\\tarnell.exe\" --status", true},
        {u"\"C:\\Program Files\\Tarnell\\tarnell.exe\"--status", true},
        {u"\"C:\\Program Files\\Tarnell\\tarnell.exe\" \"\"", true},  // an empty argument
        {u"C:\\Program Files\\Tarnell\\tarnell.exe", true},  // unquoted: "Files\..." follows the name
    };
    for (const Row& row : rows) {
        CAPTURE(U8(row.line));
        CHECK(CommandLineHasArguments(row.line) == row.expected);
#if defined(_WIN32)
        // And the system's own splitting agrees (the program's name always counts as one).
        int count = 0;
        if (LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(row.line), &count)) {
            LocalFree(argv);
            CHECK((count > 1) == row.expected);
        }
#endif
    }
}

TEST_CASE("CommandLineHelp: names every command, every exit code and the elevation the commands need") {
    const std::string help = U8(CommandLineHelp());
    for (const char* expected : {"--apply", "--revert", "--status", "--help", "/?", "740", "elevat"}) {
        CAPTURE(expected);
        CHECK(help.find(expected) != std::string::npos);
    }
    for (const char* code :
         {"  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  ", "  7  ", "  8  "}) {
        CAPTURE(code);
        CHECK(help.find(code) != std::string::npos);
    }
}

TEST_CASE("RunCommand: effects in order and the exit code, for each command and situation") {
    enum class Machine { Off, On, Busy, Foreign, OldVersionOn };
    struct Row {
        const char* name;
        TCommand command;
        Machine machine;       // the record; Busy: another writer holds it past the bound; OldVersionOn: no
                               // record, values a version without one applied
        int32_t callerStatus;  // the caller's own record; -1: none
        bool adapterFound;
        int answerAt;  // the wait's probe that answers; 0: none does
        int expectedCode;
        std::vector<std::string> expectedLog;
        bool cycleFails = false;  // disabling the adapter's connection is refused
    };
    const std::vector<std::string> cycle = {"services.enable {G}=0", "services.enable {G}=1"};
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> applyReads = {"open Tarnell",
                                                 "read tcpackfrequency",
                                                 "read tcpdelacktick",
                                                 "read tcpnodelay",
                                                 "read networkthrottleindex",
                                                 "read systemresponsiveness",
                                                 "close"};
    const std::vector<std::string> idleWritten = {"open Tarnell", "write status=0", "close"};
    const std::vector<std::string> applied = {"tweaks.apply 11111 {G}", "open Tarnell", "write status=1",
                                              "close"};
    const Row rows[] = {
        {.name = "revert",
         .command = TCommand::Revert,
         .machine = Machine::On,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 0,
         .expectedLog = join(join(join({"tweaks.giveback"}, idleWritten), {"services.discover"}), cycle)},
        {.name = "revert, internet does not come back",
         .command = TCommand::Revert,
         .machine = Machine::On,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 4,
         .expectedLog = join(join(join({"tweaks.giveback"}, idleWritten), {"services.discover"}), cycle)},
        // Given back from the record all the same; nothing to cycle; takes effect at the next reconnect.
        {.name = "revert without adapter",
         .command = TCommand::Revert,
         .machine = Machine::On,
         .callerStatus = -1,
         .adapterFound = false,
         .answerAt = 1,
         .expectedCode = 0,
         .expectedLog = join(join({"tweaks.giveback"}, idleWritten), {"services.discover"})},
        // Nothing was applied: no discovery, no cycle, no wait.
        {.name = "revert with nothing applied",
         .command = TCommand::Revert,
         .machine = Machine::Off,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 0,
         .expectedLog = join({"tweaks.giveback"}, idleWritten)},
        // The caller's own "running" is stale (another account gave it back, or it was removed): it never
        // makes values that look applied the tweak set's.
        {.name = "revert, the caller's stale running, values that look applied",
         .command = TCommand::Revert,
         .machine = Machine::OldVersionOn,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 0,
         .expectedLog = join({"tweaks.giveback"}, idleWritten)},
        {.name = "revert, record busy past the bound",
         .command = TCommand::Revert,
         .machine = Machine::Busy,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 5,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "revert, a newer version's record",
         .command = TCommand::Revert,
         .machine = Machine::Foreign,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 7,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "apply",
         .command = TCommand::Apply,
         .machine = Machine::Off,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 3,
         .expectedCode = 0,
         .expectedLog = join(join(join({"services.discover"}, applyReads), applied), cycle)},
        {.name = "apply, internet does not come back",
         .command = TCommand::Apply,
         .machine = Machine::On,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 4,
         .expectedLog = join(join(join({"services.discover"}, applyReads), applied), cycle)},
        {.name = "apply, the adapter's connection cannot be restarted",
         .command = TCommand::Apply,
         .machine = Machine::Off,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 8,
         .expectedLog = join(join(join({"services.discover"}, applyReads), applied), cycle),
         .cycleFails = true},
        {.name = "revert, the adapter's connection cannot be restarted",
         .command = TCommand::Revert,
         .machine = Machine::On,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 8,
         .expectedLog = join(join(join({"tweaks.giveback"}, idleWritten), {"services.discover"}), cycle),
         .cycleFails = true},
        {.name = "apply without adapter",
         .command = TCommand::Apply,
         .machine = Machine::Off,
         .callerStatus = -1,
         .adapterFound = false,
         .answerAt = 1,
         .expectedCode = 3,
         .expectedLog = {"services.discover"}},
        {.name = "apply, record busy past the bound",
         .command = TCommand::Apply,
         .machine = Machine::Busy,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 5,
         .expectedLog = join(join({"services.discover"}, applyReads), {"tweaks.apply 11111 {G}"})},
        {.name = "apply, a newer version's record",
         .command = TCommand::Apply,
         .machine = Machine::Foreign,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 7,
         .expectedLog = join(join({"services.discover"}, applyReads), {"tweaks.apply 11111 {G}"})},
        // The installer's steps: the record only; no adapter, no cycle, no wait, no per-user record.
        {.name = "uninstall",
         .command = TCommand::Uninstall,
         .machine = Machine::On,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 0,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "uninstall with nothing applied",
         .command = TCommand::Uninstall,
         .machine = Machine::Off,
         .callerStatus = -1,
         .adapterFound = false,
         .answerAt = 0,
         .expectedCode = 0,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "uninstall, record busy past the bound",
         .command = TCommand::Uninstall,
         .machine = Machine::Busy,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 5,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "uninstall, a newer version's record",
         .command = TCommand::Uninstall,
         .machine = Machine::Foreign,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 7,
         .expectedLog = {"tweaks.giveback"}},
        {.name = "takeover of what a version without the record applied",
         .command = TCommand::TakeOver,
         .machine = Machine::OldVersionOn,
         .callerStatus = -1,
         .adapterFound = false,
         .answerAt = 0,
         .expectedCode = 0,
         .expectedLog = {"tweaks.takeover"}},
        {.name = "takeover, a newer version's record",
         .command = TCommand::TakeOver,
         .machine = Machine::Foreign,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 7,
         .expectedLog = {"tweaks.takeover"}},
        {.name = "takeover, record busy past the bound",
         .command = TCommand::TakeOver,
         .machine = Machine::Busy,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 0,
         .expectedCode = 5,
         .expectedLog = {"tweaks.takeover"}},
        {.name = "invalid",
         .command = TCommand::Invalid,
         .machine = Machine::On,
         .callerStatus = -1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 2,
         .expectedLog = {}},
        // --help reads, writes and cycles nothing, whatever the machine's state.
        {.name = "help",
         .command = TCommand::Help,
         .machine = Machine::On,
         .callerStatus = 1,
         .adapterFound = true,
         .answerAt = 1,
         .expectedCode = 0,
         .expectedLog = {}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        Log log;
        FakeSettings settings(log);
        if (row.callerStatus >= 0) settings.integers[u"status"] = row.callerStatus;
        FakeTweaks tweaks(log);
        tweaks.applied = row.machine == Machine::On;
        tweaks.busy = row.machine == Machine::Busy;
        tweaks.foreign = row.machine == Machine::Foreign;
        tweaks.takeOverFinds = row.machine == Machine::OldVersionOn;
        FakeServices services(log);
        services.found = row.adapterFound;
        services.cycleFails = row.cycleFails;
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
    CHECK(RunCommand(TCommand::Apply, settings, tweaks, services, wait, milliseconds(2500)) == 0);
    CHECK(std::count(log.begin(), log.end(), "tweaks.apply 11010 {G}") == 1);
    CHECK(settings.integers[u"status"] == 1);
    // Nothing but the status is written: the option switches stay as recorded.
    CHECK(settings.booleans.size() == 3);
}

TEST_CASE("RunCommand --status answers from the machine's record, whatever the caller's own record says") {
    struct Row {
        bool applied;
        int32_t callerStatus;  // -1: none
        int expected;
    };
    const Row rows[] = {{false, -1, 0}, {false, 1, 0}, {true, -1, 1}, {true, 0, 1}, {true, 1, 1}};
    for (const Row& row : rows) {
        CAPTURE(row.applied);
        CAPTURE(row.callerStatus);
        Log log;
        FakeSettings settings(log);
        FakeTweaks tweaks(log);
        tweaks.applied = row.applied;
        tweaks.takeOverFinds = true;  // values that look applied never count without a record
        FakeServices services(log);
        FakeWait wait;
        if (row.callerStatus >= 0) settings.integers[u"status"] = row.callerStatus;
        CHECK(RunCommand(TCommand::Status, settings, tweaks, services, wait, milliseconds(2500)) ==
              row.expected);
        CHECK(log.empty());  // nothing read or written but the record
        CHECK(wait.events.empty());
    }
    // A newer version's record: on, but not this version's to describe.
    Log log;
    FakeSettings settings(log);
    FakeTweaks tweaks(log);
    tweaks.foreign = true;
    FakeServices services(log);
    FakeWait wait;
    CHECK(RunCommand(TCommand::Status, settings, tweaks, services, wait, milliseconds(2500)) == 7);
}

TEST_CASE("Only the commands that change the tweak set through the adapter take the single-instance guard") {
    CHECK(CommandNeedsGuard(TCommand::Apply));
    CHECK(CommandNeedsGuard(TCommand::Revert));
    CHECK_FALSE(CommandNeedsGuard(TCommand::Status));
    CHECK_FALSE(CommandNeedsGuard(TCommand::Uninstall));
    CHECK_FALSE(CommandNeedsGuard(TCommand::TakeOver));
}

TEST_CASE("ConnectivityWait on a command's limit: probes a second apart until an answer or the deadline") {
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
        {"third probe answers",
         3,
         0,
         60000,
         true,
         {"probe", "pause 1000", "probe", "pause 1000", "probe"},
         2000},
        {"no answer: the last pause is cut at the deadline and ends the wait",
         0,
         0,
         2500,
         false,
         {"probe", "pause 1000", "probe", "pause 1000", "probe", "pause 500"},
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
        CHECK(ConnectivityWait(wait, milliseconds(row.limitMs)).answered == row.expected);
        CHECK(wait.events == row.events);
        CHECK(wait.now == milliseconds(row.endMs));
    }
}
