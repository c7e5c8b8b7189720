// Clicks, closes, end-session messages and kills during a connectivity wait.
#include "program_robustness_win32.h"

using namespace tarnell;
using namespace tarnell::e2e;

namespace {

int32_t TConfigStatus() {
    return TConfig(u"Tarnell").ReadInteger(u"status", -1);
}

const Tweak& FirstTweak() {
    return TweakCatalogue().front();
}

bool TweakPresent(const std::u16string& guid) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(FirstTweak(), guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    DWORD value = 0, size = sizeof(value);
    return RegGetValueW(root, W(parts.subkey), W(std::u16string(FirstTweak().valueName)),
                        RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS;
}

void DeleteTweak(const std::u16string& guid) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(FirstTweak(), guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(parts.subkey), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, W(std::u16string(FirstTweak().valueName)));
        RegCloseKey(key);
    }
}

// Starts the program with the probe failing or slow and clicks the run switch: returns once the wait has
// sent its first probe.
void StartWaiting(Program& program, Loopback& loopback) {
    REQUIRE(program.WaitForWindow());
    HWND start = program.Control(u"BtnStart");
    REQUIRE(start);
    REQUIRE(TextOf(start) == "Run");
    const size_t from = loopback.Size();
    Click(start);
    REQUIRE(WaitUntil([&] { return loopback.Count(from, "/generate_204") >= 1; }, 20000, 10));
}

}  // namespace

TEST_CASE("program: run switch clicks during a wait start nothing twice") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    ForgetSettings();
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));

    Program program;
    StartWaiting(program, loopback);
    HWND start = program.Control(u"BtnStart");
    CHECK(IsWindowEnabled(start) == FALSE);
    // The values are written once, before the wait: a second start would write them again.
    REQUIRE(TweakPresent(guid));
    DeleteTweak(guid);

    const size_t beforeClicks = loopback.Size();
    const DWORD clicksStarted = GetTickCount();
    for (int i = 0; i < 100; ++i) {
        Click(start);
        Sleep(2);
    }
    CHECK(program.Responsive());  // every click handled
    const DWORD clicksMs = GetTickCount() - clicksStarted;
    MESSAGE("100 clicks took " << clicksMs << " ms");
    Sleep(4000);
    const DWORD spanMs = GetTickCount() - clicksStarted;
    // One wait probes about once a second (a failed probe, then a pause of a second).
    const int dropped = loopback.DroppedProbes(beforeClicks);
    CAPTURE(spanMs);
    CHECK(dropped <= int(spanMs / 1000) + 1);
    CHECK_FALSE(TweakPresent(guid));
    CHECK(TConfigStatus() == 1);  // recorded as soon as the values were written, before the wait

    // Let the probe answer: exactly one wait ends, once, in the running look; nothing follows it.
    const size_t beforeAnswer = loopback.Size();
    loopback.SetProbeMode("answer");
    REQUIRE(WaitUntil([&] { return TextOf(start) == "Running" && IsWindowEnabled(start); }, 20000));
    Sleep(3000);
    CHECK(loopback.AnsweredProbes(beforeAnswer) == 1);
    const size_t afterRunning = loopback.Size();
    Sleep(2500);
    CHECK(loopback.Count(afterRunning, "/generate_204") == 0);
    CHECK(TextOf(start) == "Running");
    CHECK(TConfigStatus() == 1);
    CHECK_FALSE(TweakPresent(guid));

    // Back to idle for the tests that follow.
    Click(start);
    CHECK(WaitUntil([&] { return TextOf(start) == "Run" && IsWindowEnabled(start); }, 30000));
    CHECK(TConfigStatus() == 0);
}

TEST_CASE("program: closing the window during a wait ends the process at once, 20 times") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    DWORD slowest = 0;
    for (int round = 0; round < 20; ++round) {
        CAPTURE(round);
        // Every other round the probe is still in flight when the window closes (its answer would take 30 s).
        loopback.SetProbeMode(round % 2 ? "slow 30" : "drop");
        ForgetSettings();
        Program program;
        StartWaiting(program, loopback);
        const DWORD closed = GetTickCount();
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        REQUIRE(program.WaitForExit(60000, &code));
        const DWORD tookMs = GetTickCount() - closed;
        CAPTURE(tookMs);
        // Well under a second on an idle machine; far below what waiting for the 30 s probe, or for the
        // workers' drain at exit (5 s), would take.
        CHECK(tookMs < 3000);
        slowest = std::max(slowest, tookMs);
        CHECK(code == 0);
        CHECK_FALSE(CrashHandlerRunning());
    }
    MESSAGE("slowest exit after WM_CLOSE: " << slowest << " ms");
    ForgetSettings();
}

TEST_CASE(
    "program: closing the window with the service check and a wait in flight ends it cleanly, 10 times") {
    // The service's answer and the probe's would each take 30 s: both workers are inside their requests when
    // the window closes, and are abandoned to the process's end.
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetServiceMode("slow 30");
    loopback.SetProbeMode("slow 30");
    DWORD slowest = 0;
    for (int round = 0; round < 10; ++round) {
        CAPTURE(round);
        ForgetSettings();
        const size_t from = loopback.Size();
        Program program;
        StartWaiting(program, loopback);
        REQUIRE(WaitUntil([&] { return loopback.Count(from, "/api.init.php") >= 1; }, 20000, 10));
        const DWORD closed = GetTickCount();
        PostMessageW(program.form, WM_CLOSE, 0, 0);
        DWORD code = 1;
        REQUIRE(program.WaitForExit(60000, &code));
        const DWORD tookMs = GetTickCount() - closed;
        CAPTURE(tookMs);
        CHECK(tookMs < 3000);
        slowest = std::max(slowest, tookMs);
        CHECK(code == 0);
        CHECK_FALSE(CrashHandlerRunning());
        CHECK(loopback.Count(from, "/except.php") == 0);  // no crash report on the way out
    }
    MESSAGE("slowest exit after WM_CLOSE: " << slowest << " ms");
    ForgetSettings();
}

namespace {

// The five tweak values as the machine registry holds them: the value, or -2 for "absent" (no tweak value
// is -2). Paths and names typed from the tweak table.
std::vector<int64_t> TweakValues(const std::u16string& guid) {
    struct Row {
        std::wstring key;
        const wchar_t* name;
    };
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + std::wstring(W(guid));
    const std::wstring profile =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    const Row rows[] = {{interfaces, L"TcpAckFrequency"},
                        {interfaces, L"TcpDelAckTicks"},
                        {L"SOFTWARE\\Microsoft\\MSMQ\\Parameters", L"TCPNoDelay"},
                        {profile, L"NetworkThrottlingIndex"},
                        {profile, L"SystemResponsiveness"}};
    std::vector<int64_t> values;
    for (const Row& row : rows) {
        DWORD value = 0, size = sizeof(value);
        const bool present =
            RegGetValueW(HKEY_LOCAL_MACHINE, row.key.c_str(), row.name,
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS;
        values.push_back(present ? int64_t(int32_t(value)) : -2);
    }
    return values;
}

// Sets the five values (-2: removes one), in catalogue order.
void SetTweakValues(const std::u16string& guid, const std::vector<int64_t>& values) {
    const std::wstring interfaces =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + std::wstring(W(guid));
    const std::wstring profile =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
    const std::pair<std::wstring, const wchar_t*> rows[] = {
        {interfaces, L"TcpAckFrequency"},
        {interfaces, L"TcpDelAckTicks"},
        {L"SOFTWARE\\Microsoft\\MSMQ\\Parameters", L"TCPNoDelay"},
        {profile, L"NetworkThrottlingIndex"},
        {profile, L"SystemResponsiveness"}};
    for (size_t i = 0; i < values.size(); ++i) {
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, rows[i].first.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS);
        const DWORD value = DWORD(values[i]);
        if (values[i] == -2)
            RegDeleteValueW(key, rows[i].second);
        else
            RegSetValueExW(key, rows[i].second, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value);
        RegCloseKey(key);
    }
}

void Kill(Program& program) {
    REQUIRE(TerminateProcess(program.pi.hProcess, 9));
    REQUIRE(program.WaitForExit(10000));
}

}  // namespace

TEST_CASE("program: the Restart Manager's end-session messages close it, idle and during a wait") {
    // What Windows Installer's Restart Manager sends a window whose program holds a file it must replace:
    // WM_QUERYENDSESSION with ENDSESSION_CLOSEAPP, then WM_ENDSESSION (TRUE when every application agreed,
    // FALSE when the shutdown was called off). Wine's msiexec has no Restart Manager: the messages are
    // sent here as it would send them.
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    const std::vector<int64_t> applied{1, 0, 1, -1, 0}, users{3, -2, -2, 70, -2};
    auto recordPresent = [] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorbeck\\Tarnell\\Applied", 0,
                          KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    };
    struct Row {
        const char* name;
        bool waiting;  // Start clicked, the probe failing: the connectivity wait is running
        bool confirmed;
        bool ends;
        std::vector<int64_t> valuesAfter;
        bool recordAfter;
    };
    const Row rows[] = {
        {"idle, shutdown confirmed", false, true, true, users, false},
        {"during the wait after Start, shutdown confirmed", true, true, true, applied, true},
        {"idle, shutdown called off", false, false, false, users, false},
        {"during the wait, shutdown called off", true, false, false, applied, true},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.name));
        ForgetSettings();
        SetTweakValues(guid, users);
        Program program;
        if (row.waiting)
            StartWaiting(program, loopback);
        else
            REQUIRE(program.WaitForWindow());
        DWORD_PTR agreed = 0;
        REQUIRE(SendMessageTimeoutW(program.form, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                    SMTO_ABORTIFHUNG, 5000, &agreed));
        CHECK(agreed == TRUE);
        const DWORD sent = GetTickCount();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(program.form, WM_ENDSESSION, row.confirmed ? TRUE : FALSE, ENDSESSION_CLOSEAPP,
                            SMTO_ABORTIFHUNG, 5000, &ignored);
        DWORD code = 1;
        const bool ended = program.WaitForExit(5000, &code);
        const std::string timing = std::string(row.name) +
                                   (ended ? ": ended after " : ": still running after ") +
                                   std::to_string(GetTickCount() - sent) + " ms";
        MESSAGE(timing);
        CHECK(ended == row.ends);
        if (ended) {
            CHECK(code == 0);
        } else {
            CHECK(program.Responsive());
        }
        CHECK_FALSE(CrashHandlerRunning());
        // Nothing half-done: the values and the record agree, and so does the caller's own status.
        CHECK(TweakValues(guid) == row.valuesAfter);
        CHECK(recordPresent() == row.recordAfter);
        CHECK(TConfigStatus() == (row.recordAfter ? 1 : 0));
    }
    ForgetSettings();
    SetTweakValues(guid, users);
}

TEST_CASE("program: killed during a wait, it starts again in the look that matches the registry") {
    Loopback loopback;
    loopback.SetServiceAnswer("{}");
    loopback.SetProbeMode("drop");
    ForgetSettings();
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    // Applied: 1, 0, 1, -1 (0xFFFFFFFF), 0. Given back: what the user had before the first Start (-2:
    // absent).
    const std::vector<int64_t> applied{1, 0, 1, -1, 0}, users{3, -2, -2, 70, -2};
    SetTweakValues(guid, users);
    REQUIRE(TweakValues(guid) == users);

    {  // Killed while the start waits: every value is applied.
        Program program;
        StartWaiting(program, loopback);
        Kill(program);
    }
    CHECK(TweakValues(guid) == applied);
    CHECK(TConfigStatus() == 1);

    {  // The next start shows the running look; killed again while the stop waits.
        Program program;
        REQUIRE(program.WaitForWindow());
        HWND start = program.Control(u"BtnStart");
        CHECK(TextOf(start) == "Running");
        CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) == FALSE);
        const size_t from = loopback.Size();
        Click(start);
        REQUIRE(WaitUntil([&] { return loopback.Count(from, "/generate_204") >= 1; }, 20000, 10));
        CHECK(TextOf(start).empty());  // busy: the look settles only after the wait
        Kill(program);
    }
    CHECK(TweakValues(guid) == users);
    CHECK(TConfigStatus() == 0);

    {  // And back in the idle look.
        Program program;
        REQUIRE(program.WaitForWindow());
        CHECK(TextOf(program.Control(u"BtnStart")) == "Run");
        CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) != FALSE);
        CHECK(TConfigStatus() == 0);
    }
    ForgetSettings();
}
