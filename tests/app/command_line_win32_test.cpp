// The real tarnell.exe run with each argument under Wine, as a script would run it: the exit code, the
// machine's tweak values, its record of them and the caller's recorded status before and after, and that
// nothing reaches standard output or standard error. The probe points at the loopback fixture; a row whose
// probe is dropped waits out the build's shortened command wait (TARNELL_COMMAND_WAIT_MS).
//
// Wine has no netshell, so the connection cycle between the writes and the wait finds no connection
// manager and does nothing here; the commands go on regardless, as they do on Windows when cycling fails.
#include <doctest/doctest.h>
#include <windows.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "../support/machine_registry_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "program_driver_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
#include "tuning/registry_writer_win32.h"
#include "tuning/tweak_record.h"
#include "tuning/tweaks.h"

using namespace tarnell;

namespace {

using Values = std::array<std::optional<DWORD>, 5>;  // catalogue order
constexpr std::optional<DWORD> kAbsent;

// The five values as the run switch leaves them (typed from the tweak table, not read from the code).
const Values kCleared = {kAbsent, kAbsent, kAbsent, kAbsent, kAbsent};
const Values kApplied = {1u, 0u, 1u, 0xFFFFFFFFu, 0u};
const Values kAppliedWithoutNoDelay = {1u, 0u, kAbsent, 0xFFFFFFFFu, 0u};
const Values kReverted = {kAbsent, kAbsent, kAbsent, 10u, 20u};
// What a user had before the tweak set, the MSMQ parameters key absent.
const Values kUsers = {5u, kAbsent, kAbsent, 70u, 20u};

const wchar_t kMsmqKey[] = L"SOFTWARE\\Microsoft\\MSMQ\\Parameters";
const wchar_t* const kRecordKey = test::kMachineRecordKey;

// The tweak set applied by another process (another account's window, say): the record written over
// whatever the values are now, then the values.
void ApplyElsewhere(const std::u16string& guid) {
    SystemMachineRegistry registry;
    SystemRecordLock lock;
    TTweakRecord record(registry, lock);
    REQUIRE(record.Apply({true, true, true, true, true}, guid) == RecordResult::Done);
}

struct Location {
    HKEY root;
    std::wstring key;
    const wchar_t* name;
};

std::array<Location, 5> Locations(const std::u16string& guid) {
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + ToWide(guid);
    const std::wstring msmq = L"SOFTWARE\\Microsoft\\MSMQ\\Parameters";
    const std::wstring profile =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    return {{{HKEY_LOCAL_MACHINE, interfaces, L"TcpAckFrequency"},
             {HKEY_LOCAL_MACHINE, interfaces, L"TcpDelAckTicks"},
             {HKEY_LOCAL_MACHINE, msmq, L"TCPNoDelay"},
             {HKEY_LOCAL_MACHINE, profile, L"NetworkThrottlingIndex"},
             {HKEY_LOCAL_MACHINE, profile, L"SystemResponsiveness"}}};
}

Values ReadValues(const std::u16string& guid) {
    Values values;
    const auto locations = Locations(guid);
    for (size_t i = 0; i < locations.size(); ++i) {
        DWORD value = 0, size = sizeof value;
        if (RegGetValueW(locations[i].root, locations[i].key.c_str(), locations[i].name,
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS)
            values[i] = value;
    }
    return values;
}

void WriteValues(const std::u16string& guid, const Values& values) {
    const auto locations = Locations(guid);
    for (size_t i = 0; i < locations.size(); ++i) {
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(locations[i].root, locations[i].key.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS);
        if (values[i]) {
            RegSetValueExW(key, locations[i].name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*values[i]),
                           sizeof(DWORD));
        } else {
            RegDeleteValueW(key, locations[i].name);
        }
        RegCloseKey(key);
    }
}

std::string Show(const Values& values) {
    std::string text;
    for (const auto& v : values) text += v ? std::to_string(*v) + " " : std::string("- ");
    return text;
}

// The per-user settings: the recorded status and one option switch.
struct Settings {
    std::optional<DWORD> status;
    std::optional<DWORD> tcpnodelay;
    bool operator==(const Settings&) const = default;
};

std::optional<DWORD> ReadSetting(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Tarnell", name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

Settings ReadSettings() {
    return {ReadSetting(L"status"), ReadSetting(L"tcpnodelay")};
}

void WriteSettings(const Settings& settings) {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tarnell", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    if (settings.status)
        RegSetValueExW(key, L"status", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*settings.status), 4);
    if (settings.tcpnodelay)
        RegSetValueExW(key, L"tcpnodelay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*settings.tcpnodelay),
                       4);
    RegCloseKey(key);
}

std::string Show(const Settings& s) {
    auto one = [](const std::optional<DWORD>& v) { return v ? std::to_string(*v) : std::string("-"); };
    return "status " + one(s.status) + ", tcpnodelay " + one(s.tcpnodelay);
}

struct Run {
    DWORD code = 0xFFFFFFFF;
    DWORD elapsedMs = 0;
    std::string output;  // whatever reached standard output and standard error
};

// Runs tarnell.exe with `arguments` (appended to its quoted path as they stand) and waits for it.
Run RunProgram(const std::wstring& arguments) {
    const std::wstring path = e2e::PathFromEnv("TARNELL_PROGRAM");
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring outputPath = std::wstring(temp) + L"tarnell-command-line-output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(output != INVALID_HANDLE_VALUE);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output;
    si.hStdError = output;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    const DWORD start = GetTickCount();
    REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                           &pi));
    CloseHandle(output);
    Run run;
    REQUIRE(WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0);
    run.elapsedMs = GetTickCount() - start;
    GetExitCodeProcess(pi.hProcess, &run.code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    run.output = e2e::ReadWholeFile(outputPath);
    return run;
}

DWORD CommandWaitMs() {
    const char* value = std::getenv("TARNELL_COMMAND_WAIT_MS");
    REQUIRE(value);
    return DWORD(std::atol(value));
}

}  // namespace

TEST_CASE("command line: each argument's exit code, with the registry before and after") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    e2e::Loopback loopback;
    const DWORD waitMs = CommandWaitMs();

    struct Row {
        const char* name;
        const wchar_t* arguments;
        Values valuesBefore;    // by hand; the MSMQ parameters key absent where TCPNoDelay is
        bool appliedElsewhere;  // then the tweak set applied over them by another process
        Settings settingsBefore;
        const char* probeMode;
        DWORD expectedCode;
        Values valuesAfter;
        bool recordAfter;
        Settings settingsAfter;
        bool probes;    // the command waited for the internet
        bool waitsOut;  // the probe never answers: the run lasts the whole command wait
    };
    const Row rows[] = {
        // --status reads the machine's record, never the caller's own.
        {.name = "status, values set by hand, the caller's record says running",
         .arguments = L"--status",
         .valuesBefore = kApplied,
         .appliedElsewhere = false,
         .settingsBefore = {1u, {}},
         .probeMode = "answer",
         .expectedCode = 0,
         .valuesAfter = kApplied,
         .recordAfter = false,
         .settingsAfter = {1u, {}}},
        {.name = "status, applied by another account",
         .arguments = L"--status",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {},
         .probeMode = "answer",
         .expectedCode = 1,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {}},
        {.name = "apply, one option recorded off",
         .arguments = L"--apply",
         .valuesBefore = kUsers,
         .appliedElsewhere = false,
         .settingsBefore = {0u, 0u},
         .probeMode = "answer",
         .expectedCode = 0,
         .valuesAfter = {1u, 0u, kAbsent, 0xFFFFFFFFu, 0u},
         .recordAfter = true,
         .settingsAfter = {1u, 0u},
         .probes = true},
        {.name = "apply, nothing recorded",
         .arguments = L"--apply",
         .valuesBefore = kReverted,
         .appliedElsewhere = false,
         .settingsBefore = {},
         .probeMode = "answer",
         .expectedCode = 0,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {1u, {}},
         .probes = true},
        // The user's own values come back, whoever applied; the MSMQ key that was not there goes again.
        {.name = "revert",
         .arguments = L"--revert",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, 1u},
         .probeMode = "answer",
         .expectedCode = 0,
         .valuesAfter = kUsers,
         .recordAfter = false,
         .settingsAfter = {0u, 1u},
         .probes = true},
        // Nothing was applied: nothing written or created, no cycle, no wait.
        {.name = "revert while nothing is applied",
         .arguments = L"--revert",
         .valuesBefore = kCleared,
         .appliedElsewhere = false,
         .settingsBefore = {0u, {}},
         .probeMode = "drop",
         .expectedCode = 0,
         .valuesAfter = kCleared,
         .recordAfter = false,
         .settingsAfter = {0u, {}}},
        {.name = "apply, internet does not come back",
         .arguments = L"--apply",
         .valuesBefore = kCleared,
         .appliedElsewhere = false,
         .settingsBefore = {0u, {}},
         .probeMode = "drop",
         .expectedCode = 4,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {1u, {}},
         .probes = true,
         .waitsOut = true},
        {.name = "revert, internet does not come back",
         .arguments = L"--revert",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, {}},
         .probeMode = "drop",
         .expectedCode = 4,
         .valuesAfter = kUsers,
         .recordAfter = false,
         .settingsAfter = {0u, {}},
         .probes = true,
         .waitsOut = true},
        // The installer's step: the record given back, no cycle, no wait, no per-user record written.
        {.name = "uninstall",
         .arguments = L"--uninstall",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, {}},
         .probeMode = "drop",
         .expectedCode = 0,
         .valuesAfter = kUsers,
         .recordAfter = false,
         .settingsAfter = {1u, {}}},
        {.name = "uninstall with nothing applied",
         .arguments = L"--uninstall",
         .valuesBefore = kApplied,
         .appliedElsewhere = false,
         .settingsBefore = {},
         .probeMode = "drop",
         .expectedCode = 0,
         .valuesAfter = kApplied,
         .recordAfter = false,
         .settingsAfter = {}},
        {.name = "unknown argument",
         .arguments = L"--stop",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, 1u},
         .probeMode = "answer",
         .expectedCode = 2,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {1u, 1u}},
        // Switches as Windows users write them: any letter case, "/" as well as "--".
        {.name = "revert in another letter case",
         .arguments = L"--Revert",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, {}},
         .probeMode = "answer",
         .expectedCode = 0,
         .valuesAfter = kUsers,
         .recordAfter = false,
         .settingsAfter = {0u, {}},
         .probes = true},
        {.name = "status after a slash, in capitals",
         .arguments = L"/STATUS",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {},
         .probeMode = "answer",
         .expectedCode = 1,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {}},
        {.name = "a path beside the switch is ignored",
         .arguments = L"\"C:\\Users\\Public\\a b.txt\" --Status",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {},
         .probeMode = "answer",
         .expectedCode = 1,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {}},
        {.name = "unknown switch after a slash",
         .arguments = L"/stop",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, 1u},
         .probeMode = "answer",
         .expectedCode = 2,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {1u, 1u}},
        {.name = "two options",
         .arguments = L"--revert --apply",
         .valuesBefore = kUsers,
         .appliedElsewhere = true,
         .settingsBefore = {1u, {}},
         .probeMode = "answer",
         .expectedCode = 2,
         .valuesAfter = kApplied,
         .recordAfter = true,
         .settingsAfter = {1u, {}}},
    };
    for (const Row& row : rows) {
        INFO(row.name);
        test::DeleteMachineTree(kRecordKey);
        WriteValues(guid, row.valuesBefore);
        if (!row.valuesBefore[2]) test::DeleteMachineTree(L"SOFTWARE\\Microsoft\\MSMQ");
        if (row.appliedElsewhere) ApplyElsewhere(guid);
        WriteSettings(row.settingsBefore);
        loopback.SetProbeMode(row.probeMode);
        const size_t logStart = loopback.Size();

        const Run run = RunProgram(row.arguments);
        CHECK(run.code == row.expectedCode);
        CHECK(Show(ReadValues(guid)) == Show(row.valuesAfter));
        CHECK(test::MachineKeyExists(kRecordKey) == row.recordAfter);
        // A key for TCPNoDelay exists afterwards only where the value does or did before.
        CHECK(test::MachineKeyExists(kMsmqKey) == (row.valuesBefore[2] || row.valuesAfter[2]));
        CHECK(Show(ReadSettings()) == Show(row.settingsAfter));
        // Only --status tells anything (what the record holds).
        const bool tells = AsciiLowerCase(FromWide(row.arguments)).find(u"status") != std::u16string::npos &&
                           row.expectedCode != 2;
        CHECK(run.output.empty() == !tells);
        CHECK((loopback.Count(logStart, "/generate_204") > 0) == row.probes);
        MESSAGE(row.name << ": " << run.elapsedMs << " ms");
        if (row.waitsOut) {
            CHECK(run.elapsedMs >= waitMs);
            CHECK(run.elapsedMs < waitMs + 30000);
        }
    }
    test::DeleteMachineTree(kRecordKey);
}

TEST_CASE("command line: while the window runs, --status answers at once, the others exit 5") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    e2e::Loopback loopback;
    test::DeleteMachineTree(kRecordKey);
    WriteValues(guid, kUsers);
    ApplyElsewhere(guid);
    WriteSettings({1u, 1u});

    e2e::Program window;
    REQUIRE(window.WaitForWindow());
    for (const wchar_t* arguments : {L"--revert", L"--apply"}) {
        CAPTURE(Utf16ToUtf8(FromWide(arguments)));
        const Run run = RunProgram(arguments);
        CHECK(run.code == 5);
        CHECK(Show(ReadValues(guid)) == Show(kApplied));
        CHECK(ReadSettings().status == std::optional<DWORD>(1u));
    }
    // --status takes no guard: it reads the machine's record, whatever else runs.
    const Run status = RunProgram(L"--status");
    CHECK(status.code == 1);
    MESSAGE("--status beside the window: " << status.elapsedMs << " ms");
    CHECK(status.elapsedMs < 20000);
    // Bad arguments are told apart before the guard is asked.
    CHECK(RunProgram(L"--bogus").code == 2);
    CHECK(window.Running());

    // The installer's step gives the machine back with the window open; the window's Stop then finds
    // nothing left and changes nothing.
    CHECK(RunProgram(L"--uninstall").code == 0);
    CHECK(Show(ReadValues(guid)) == Show(kUsers));
    CHECK_FALSE(test::MachineKeyExists(kRecordKey));
    CHECK(window.Running());
}

TEST_CASE("command line: a command holds the guard, so the window does not open meanwhile") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    e2e::Loopback loopback;
    test::DeleteMachineTree(kRecordKey);
    WriteValues(guid, kCleared);
    WriteSettings({0u, {}});
    loopback.SetProbeMode("drop");  // the command waits out its wait

    const std::wstring path = e2e::PathFromEnv("TARNELL_PROGRAM");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + path + L"\" --apply";
    REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &si, &pi));
    // Once the values are written the command is past the guard and into its wait.
    REQUIRE(e2e::WaitUntil([&] { return ReadSettings().status == std::optional<DWORD>(1u); }, 30000));
    {
        e2e::Program window;
        DWORD code = 1;
        CHECK(window.WaitForExit(20000, &code));
        CHECK(code == 0);
        CHECK(window.form == nullptr);
    }
    DWORD code = 0;
    CHECK(WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &code);
    CHECK(code == 4);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    test::DeleteMachineTree(kRecordKey);
}

TEST_CASE("command line: arguments that are not switches open the window, as none would") {
    // A file dropped on the exe, "Open with", a shortcut with an argument, an empty argument.
    test::DeleteMachineTree(kRecordKey);
    WriteSettings({0u, {}});
    const std::wstring path = e2e::PathFromEnv("TARNELL_PROGRAM");
    for (const wchar_t* arguments :
         {L"\"C:\\Users\\Public\\Downloads\\notes.txt\"", L"\"\"", L"report.log \"D:\\x y\\z.cfg\""}) {
        CAPTURE(Utf16ToUtf8(FromWide(arguments)));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
        HWND form = nullptr;
        const bool shown = e2e::WaitUntil(
            [&] {
                form = e2e::FindTopLevel(pi.dwProcessId, L"TarnellForm");
                return (form && IsWindowVisible(form)) ||
                       WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
            },
            60000);
        CHECK(shown);
        CHECK(form != nullptr);
        if (form) PostMessageW(form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        GetExitCodeProcess(pi.hProcess, &code);
        CHECK(code == 0);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

TEST_CASE("command line: /? and --help write the commands and exit codes to the caller's output") {
    for (const wchar_t* arguments : {L"/?", L"--help", L"-?", L"/Help"}) {
        CAPTURE(Utf16ToUtf8(FromWide(arguments)));
        const Run run = RunProgram(arguments);
        CHECK(run.code == 0);
        for (const char* expected : {"--apply", "--revert", "--status", "740", "Exit codes"}) {
            CAPTURE(expected);
            CHECK(run.output.find(expected) != std::string::npos);
        }
        MESSAGE(Utf16ToUtf8(FromWide(arguments))
                << ": " << run.output.size() << " bytes in " << run.elapsedMs << " ms");
    }
}

TEST_CASE("command line: --status tells the caller what the machine's record holds, value by value") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    test::DeleteMachineTree(kRecordKey);
    WriteValues(guid, kUsers);
    test::DeleteMachineTree(L"SOFTWARE\\Microsoft\\MSMQ");

    Run run = RunProgram(L"--status --tsv");
    CHECK(run.code == 0);
    CHECK(run.output == "state\toff\r\nkey\tname\tadapter\tbefore\twritten\tnow\tgive-back\r\n");

    ApplyElsewhere(guid);
    run = RunProgram(L"--status --tsv");
    CHECK(run.code == 1);
    // Typed from what this test wrote: the user's values before, the tweak set's after.
    const std::string adapterKey =
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" +
        Utf16ToUtf8(guid);
    const std::string msmq = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters";
    const std::string profile =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    for (const std::string& line : std::vector<std::string>{
             adapterKey + "\tTcpAckFrequency\t",
             "\tdword:5\tdword:1\tdword:1\trestore\r\n",
             adapterKey + "\tTcpDelAckTicks\t",
             "\tabsent\tdword:0\tdword:0\trestore\r\n",
             msmq + "\tTCPNoDelay\t\tabsent\tdword:1\tdword:1\trestore\r\n",
             profile +
                 "\tNetworkThrottlingIndex\t\tdword:70\tdword:4294967295\tdword:4294967295\trestore\r\n",
             profile + "\tSystemResponsiveness\t\tdword:20\tdword:0\tdword:0\trestore\r\n",
         }) {
        CAPTURE(line);
        CHECK(run.output.find(line) != std::string::npos);
    }
    CHECK(run.output.rfind("state\ton\r\n", 0) == 0);
    // The adapter's name, where the system knows the adapter (the IP Helper's connection name).
    CHECK(run.output.find(adapterKey + "\tTcpAckFrequency\t\t") == std::string::npos);

    run = RunProgram(L"/status");
    CHECK(run.code == 1);
    CHECK(run.output.find("Tarnell's tweak set is on. The machine's record holds 5 values") !=
          std::string::npos);
    CHECK(run.output.find("  before:    DWORD 70 (0x00000046)") != std::string::npos);
    MESSAGE(run.output);

    CHECK(RunProgram(L"--revert").code == 0);
    run = RunProgram(L"--status");
    CHECK(run.code == 0);
    CHECK(run.output.find("Tarnell's tweak set is off") != std::string::npos);
}

TEST_CASE("command line: tarnell.exe is a GUI-subsystem program, so a console shows nothing") {
    const std::string image = e2e::ReadWholeFile(e2e::PathFromEnv("TARNELL_PROGRAM"));
    REQUIRE(image.size() > 0x200);
    const auto peOffset = *reinterpret_cast<const int32_t*>(image.data() + 0x3C);
    REQUIRE(image.compare(size_t(peOffset), 4, std::string("PE\0\0", 4)) == 0);
    // The optional header follows the 4-byte signature and the 20-byte file header; Subsystem is at 68.
    const auto subsystem = *reinterpret_cast<const uint16_t*>(image.data() + peOffset + 24 + 68);
    CHECK(subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI);
}
