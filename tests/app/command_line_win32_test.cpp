// The real tarnell.exe run with each argument under Wine, as a script would run it: the exit code, the
// machine's tweak values and the recorded status before and after, and that nothing reaches standard
// output or standard error. The probe points at the loopback fixture; a row whose probe is dropped
// waits out the build's shortened command wait (TARNELL_COMMAND_WAIT_MS).
//
// Wine has no netshell, so the connection cycle between the writes and the wait finds no connection
// manager and does nothing here; the commands go on regardless, as they do on Windows when cycling fails.
#include <doctest/doctest.h>
#include <windows.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/text.h"
#include "base/wide.h"
#include "program_driver_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
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

struct Location {
    HKEY root;
    std::wstring key;
    const wchar_t* name;
};

std::array<Location, 5> Locations(const std::u16string& guid) {
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + ToWide(guid);
    const std::wstring msmq = L"SOFTWARE\\Microsoft\\MSMQ\\Parameters";
    const std::wstring profile = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
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

Settings ReadSettings() { return {ReadSetting(L"status"), ReadSetting(L"tcpnodelay")}; }

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
        Values valuesBefore;
        Settings settingsBefore;
        const char* probeMode;
        DWORD expectedCode;
        Values valuesAfter;
        Settings settingsAfter;
        bool waitsOut;  // the probe never answers: the run lasts the whole command wait
    };
    const Row rows[] = {
        {"status, nothing recorded", L"--status", kCleared, {}, "answer", 0, kCleared, {}, false},
        {"status, idle", L"--status", kApplied, {0u, {}}, "answer", 0, kApplied, {0u, {}}, false},
        {"status, running", L"--status", kApplied, {1u, {}}, "answer", 1, kApplied, {1u, {}}, false},
        {"apply, one option recorded off", L"--apply", kCleared, {0u, 0u}, "answer", 0,
         kAppliedWithoutNoDelay, {1u, 0u}, false},
        {"apply, nothing recorded", L"--apply", kReverted, {}, "answer", 0, kApplied, {1u, {}}, false},
        {"revert", L"--revert", kApplied, {1u, 1u}, "answer", 0, kReverted, {0u, 1u}, false},
        {"revert while idle", L"--revert", kCleared, {0u, {}}, "answer", 0, kReverted, {0u, {}}, false},
        {"apply, internet does not come back", L"--apply", kCleared, {0u, {}}, "drop", 4, kApplied, {1u, {}},
         true},
        {"revert, internet does not come back", L"--revert", kApplied, {1u, {}}, "drop", 4, kReverted,
         {0u, {}}, true},
        {"unknown argument", L"--stop", kApplied, {1u, 1u}, "answer", 2, kApplied, {1u, 1u}, false},
        {"option in another letter case", L"--Revert", kApplied, {1u, {}}, "answer", 2, kApplied, {1u, {}},
         false},
        {"two options", L"--revert --apply", kApplied, {1u, {}}, "answer", 2, kApplied, {1u, {}}, false},
        {"empty argument", L"\"\"", kApplied, {1u, {}}, "answer", 2, kApplied, {1u, {}}, false},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        WriteValues(guid, row.valuesBefore);
        WriteSettings(row.settingsBefore);
        loopback.SetProbeMode(row.probeMode);
        const size_t logStart = loopback.Size();

        const Run run = RunProgram(row.arguments);
        CHECK(run.code == row.expectedCode);
        CHECK(Show(ReadValues(guid)) == Show(row.valuesAfter));
        CHECK(Show(ReadSettings()) == Show(row.settingsAfter));
        CHECK(run.output.empty());
        // Only a command that wrote something waits for the internet.
        const bool wrote = row.expectedCode == 0 || row.expectedCode == 4;
        const bool waited = wrote && std::wstring(row.arguments) != L"--status";
        CHECK((loopback.Count(logStart, "/generate_204") > 0) == waited);
        if (row.waitsOut) {
            CHECK(run.elapsedMs >= waitMs);
            CHECK(run.elapsedMs < waitMs + 30000);
        }
    }
}

TEST_CASE("command line: while the window runs, every command exits 5 and changes nothing") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    e2e::Loopback loopback;
    WriteValues(guid, kApplied);
    WriteSettings({1u, 1u});

    e2e::Program window;
    REQUIRE(window.WaitForWindow());
    for (const wchar_t* arguments : {L"--revert", L"--apply", L"--status"}) {
        CAPTURE(Utf16ToUtf8(FromWide(arguments)));
        const Run run = RunProgram(arguments);
        CHECK(run.code == 5);
        CHECK(Show(ReadValues(guid)) == Show(kApplied));
        CHECK(ReadSettings().status == std::optional<DWORD>(1u));
    }
    // Bad arguments are told apart before the guard is asked.
    CHECK(RunProgram(L"--bogus").code == 2);
    CHECK(window.Running());
}

TEST_CASE("command line: a command holds the guard, so the window does not open meanwhile") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    e2e::Loopback loopback;
    WriteValues(guid, kCleared);
    WriteSettings({0u, {}});
    loopback.SetProbeMode("drop");  // the command waits out its wait

    const std::wstring path = e2e::PathFromEnv("TARNELL_PROGRAM");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + path + L"\" --apply";
    REQUIRE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &pi));
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
