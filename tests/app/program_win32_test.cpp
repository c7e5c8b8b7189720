// End-to-end tests of the real tarnell.exe under Wine, driven from outside as a user would: the driver
// starts the program, finds its window and controls by class and control identifier, clicks them with
// mouse messages and reads the registry the program writes. The program's probe and service point at
// the loopback fixture server.
//
// Environment: TARNELL_PROGRAM (path of tarnell.exe), optional TARNELL_EXPECT_LANG (UI language the
// locale should give) and TARNELL_EXPECT_DPI (the prefix's DPI).
#include <doctest/doctest.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../support/machine_registry_win32.h"
#include "app/main_layout.h"
#include "base/text.h"
#include "base/wide.h"
#include "build_config.h"
#include "config/config_win32.h"
#include "layout_expected.h"
#include "program_driver_win32.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
#include "tuning/registry_writer_win32.h"
#include "tuning/tweak_record.h"
#include "tuning/tweaks.h"
#include "window_search_win32.h"

using namespace tarnell;

namespace {

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

using e2e::Program;
using namespace tarnell::test;

int CountForms() {
    int count = 0;
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            wchar_t cls[64] = {};
            GetClassNameW(hwnd, cls, 64);
            if (std::wstring(cls) == L"TarnellForm") ++*reinterpret_cast<int*>(lp);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

std::u16string Text(HWND hwnd) {
    wchar_t buffer[256] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return FromWide(buffer);
}

void Click(HWND hwnd) {
    outside::PostClick(hwnd);
}

template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs) {
    const DWORD end = GetTickCount() + timeoutMs;
    while (GetTickCount() < end) {
        if (pred()) return true;
        Sleep(100);
    }
    return pred();
}

const char16_t* const kOptionKeys[] = {u"tcpnodelay", u"tcpackfrequency", u"tcpdelacktick",
                                       u"networkthrottleindex", u"systemresponsiveness"};

// A tweak value in the machine registry's 64-bit view, or nothing.
bool ReadTweak(const Tweak& tweak, const std::u16string& guid, DWORD& value) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(tweak, guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    DWORD size = sizeof(value);
    return RegGetValueW(root, W(parts.subkey), W(std::u16string(tweak.valueName)),
                        RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size) == ERROR_SUCCESS;
}

void DeleteTweak(const Tweak& tweak, const std::u16string& guid) {
    const RegistryPathParts parts = SplitRegistryPath(TweakPath(tweak, guid));
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(GetRootKey(parts.root)));
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(parts.subkey), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, W(std::u16string(tweak.valueName)));
        RegCloseKey(key);
    }
}

const std::wstring kRecordKey = test::kMachineRecordKey;

std::optional<MachineValue> ReadTweakValue(const Tweak& tweak, const std::u16string& guid) {
    return ReadMachineValue(ToWide(SplitRegistryPath(TweakPath(tweak, guid)).subkey),
                            ToWide(tweak.valueName));
}

}  // namespace

TEST_CASE(
    "program: first start lays out the window, records the options, and a second instance ends at once") {
    ForgetSettings();
    Program program;
    REQUIRE(program.WaitForWindow());
    HWND form = program.form;

    const int dpi = int(GetDpiForWindow(form));
    if (const char* expected = std::getenv("TARNELL_EXPECT_DPI")) CHECK(dpi == std::atoi(expected));
    RECT client;
    GetClientRect(form, &client);
    CHECK(client.right == expected::Scale(expected::kClientWidth, dpi));
    CHECK(client.bottom == expected::Scale(expected::kClientHeight, dpi));
    // Every control where the layout puts it (typed from the layout, not read from the program's table).
    for (const expected::Control& e : expected::kControls) {
        const std::u16string name(e.name);
        CAPTURE(U8(name));
        HWND control = program.Control(name.c_str());
        REQUIRE(control);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, form, reinterpret_cast<POINT*>(&r), 2);
        const expected::PixelPlace want = expected::PlaceAt(e, dpi);
        CHECK(r.left == want.left);
        CHECK(r.top == want.top);
        CHECK(r.right - r.left == want.width);
        CHECK(r.bottom - r.top == want.height);
    }
    CHECK(IsWindowVisible(program.Control(u"Card1")) != FALSE);
    CHECK(IsWindowVisible(program.Control(u"Card2")) == FALSE);
    CHECK(IsWindowVisible(program.Control(u"Indicator")) == FALSE);
    CHECK(IsWindowVisible(program.Control(u"BtnDonate")) == FALSE);
    // Centred on the screen.
    RECT outer;
    GetWindowRect(form, &outer);
    CHECK(std::abs((outer.left + outer.right) - GetSystemMetrics(SM_CXSCREEN)) <= 2);
    CHECK(std::abs((outer.top + outer.bottom) - GetSystemMetrics(SM_CYSCREEN)) <= 2);
    // Fixed size: no sizing border, no maximize box.
    const LONG style = GetWindowLongW(form, GWL_STYLE);
    CHECK((style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) == 0);
    CHECK((style & WS_MINIMIZEBOX) != 0);

    {
        TConfig config(u"Tarnell");
        for (const char16_t* key : kOptionKeys) {
            CAPTURE(U8(key));
            CHECK(config.ReadBoolean(key, false));
        }
        CHECK(config.ReadInteger(u"status", -1) == 0);
    }

    // A second start while this one runs: it ends at once, silently, without a window of its own.
    Program second;
    DWORD code = 1;
    CHECK(second.WaitForExit(20000, &code));
    CHECK(code == 0);
    CHECK(CountForms() == 1);

    PostMessageW(form, WM_CLOSE, 0, 0);
    CHECK(program.WaitForExit(15000));
}

TEST_CASE("program: run writes the five values and ends running; stop gives the user's own back exactly") {
    ForgetSettings();
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    // The user's own values: one per-adapter DWORD, a text under a profile name, the rest absent, and no
    // MSMQ key at all.
    for (const Tweak& t : TweakCatalogue()) DeleteTweak(t, guid);
    DeleteMachineTree(L"SOFTWARE\\Microsoft\\MSMQ");
    const std::wstring adapterKey = ToWide(SplitRegistryPath(TweakPath(TweakCatalogue()[0], guid)).subkey);
    const std::wstring profileKey = ToWide(SplitRegistryPath(TweakPath(TweakCatalogue()[4], guid)).subkey);
    REQUIRE(SetMachineValue(adapterKey, L"TcpAckFrequency", Dword(5)));
    REQUIRE(
        SetMachineValue(profileKey, L"SystemResponsiveness", MachineValue(REG_SZ, {'m', 0, 'e', 0, 0, 0})));
    std::vector<std::optional<MachineValue>> before;
    for (const Tweak& t : TweakCatalogue()) before.push_back(ReadTweakValue(t, guid));

    Program program;
    REQUIRE(program.WaitForWindow());
    HWND start = program.Control(u"BtnStart");
    REQUIRE(start);
    CHECK(U8(Text(start)) == "Run");

    // The configuration card shows the adapter found.
    CHECK(U8(Text(program.Control(u"LblAdapter"))) == U8(name));
    CHECK(U8(Text(program.Control(u"LblIPAddress"))) == "IP: " + U8(ip));

    Click(start);
    REQUIRE(WaitUntil([&] { return TConfig(u"Tarnell").ReadInteger(u"status", -1) == 1; }, 60000));
    CHECK(WaitUntil([&] { return U8(Text(start)) == "Running" && IsWindowEnabled(start); }, 5000));
    for (const Tweak& t : TweakCatalogue()) {
        CAPTURE(U8(t.valueName));
        DWORD value = 12345;
        CHECK(ReadTweak(t, guid, value));
        CHECK(int32_t(value) == t.applyValue);
    }
    CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) == FALSE);

    Click(start);
    REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Run" && IsWindowEnabled(start); }, 60000));
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 0);
    for (size_t i = 0; i < kTweakCount; ++i) {
        const Tweak& t = TweakCatalogue()[i];
        CAPTURE(U8(t.valueName));
        CHECK(ReadTweakValue(t, guid) == before[i]);
    }
    CHECK_FALSE(MachineKeyExists(L"SOFTWARE\\Microsoft\\MSMQ"));
    CHECK_FALSE(MachineKeyExists(kRecordKey));
    CHECK(IsWindowEnabled(program.Control(u"ChkTcpNoDelay")) != FALSE);

    // Unticking an option records false at once.
    Click(program.Control(u"BtnConfig"));
    CHECK(WaitUntil([&] { return IsWindowVisible(program.Control(u"Card2")) != FALSE; }, 5000));
    SendMessageW(program.Control(u"ChkTcpNoDelay"), BM_CLICK, 0, 0);
    CHECK(WaitUntil([&] { return !TConfig(u"Tarnell").ReadBoolean(u"tcpnodelay", true); }, 5000));
}

TEST_CASE("program: captions follow the locale") {
    const char* language = std::getenv("TARNELL_EXPECT_LANG");
    REQUIRE(language);
    const std::u16string lang = FromAscii(language);
    LoadTranslationTable();
    Program program;
    REQUIRE(program.WaitForWindow());
    CHECK(U8(Text(program.form)) == (lang == u"ko" ? "타르넬" : "Tarnell"));
    struct Row {
        const char16_t* control;
        const char16_t* source;
    };
    const Row rows[] = {{u"LblTitle", u"타르넬"},
                        {u"BtnHome", u"처음화면"},
                        {u"BtnConfig", u"환경설정"},
                        {u"BtnStart", u"실행하기"},
                        {u"GroupBox1", u"네트워크 아답터 정보"},
                        {u"GroupBox3", u"네트워크 쓰로틀링"}};
    for (const Row& row : rows) {
        CAPTURE(U8(row.control));
        CHECK(U8(Text(program.Control(row.control))) == U8(TranslateText(row.source, lang)));
    }
    CHECK(U8(Text(program.Control(u"ChkTcpNoDelay"))) == "TcpNoDelay");
    CHECK(U8(Text(program.Control(u"LblVersion"))) ==
          U8(TranslateText(u"버전", lang)) + ": " + TARNELL_VERSION_TEXT);
}

TEST_CASE("program: an error in the start-up sequence shows the Close box, then the window opens") {
    ForgetSettings();
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tarnell", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    const wchar_t text[] = L"yes";  // a Boolean stored as text: the settings store refuses to read it
    RegSetValueExW(key, L"tcpnodelay", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    RegCloseKey(key);

    Program program;
    HWND box = nullptr;
    REQUIRE(WaitUntil(
        [&] {
            box = FindWindowW(L"#32770", L"Tarnell");
            return box != nullptr;
        },
        60000));
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    CHECK(owner == program.pi.dwProcessId);
    // The box exists before its buttons do: read them once it is shown.
    std::vector<std::wstring> buttons;
    WaitUntil(
        [&] {
            buttons.clear();
            EnumChildWindows(
                box,
                [](HWND child, LPARAM lp) -> BOOL {
                    wchar_t cls[64] = {}, caption[128] = {};
                    GetClassNameW(child, cls, 64);
                    GetWindowTextW(child, caption, 128);
                    if (std::wstring(cls) == L"Button" && IsWindowVisible(child))
                        reinterpret_cast<std::vector<std::wstring>*>(lp)->push_back(caption);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&buttons));
            return IsWindowVisible(box) && !buttons.empty();
        },
        10000);
    CHECK(buttons == std::vector<std::wstring>{L"Close"});
    PostMessageW(box, WM_COMMAND, IDCLOSE, 0);

    // The program goes on: the window opens, with the steps before the failing one done.
    REQUIRE(program.WaitForWindow());
    CHECK(U8(Text(program.Control(u"LblVersion"))) == std::string("Version: ") + TARNELL_VERSION_TEXT);
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == -1);  // the state load ended before the status
    ForgetSettings();
}

TEST_CASE("program: record: the window follows the machine and gives back the adapter it was applied on") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    // The wired adapter of an earlier Start, no longer the active one: its key did not exist before.
    const std::u16string wired = u"{0E1D2C3B-4A59-6877-8695-A4B3C2D1E0F9}";
    const std::wstring wiredKey =
        L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + ToWide(wired);

    SUBCASE("applied on another adapter by another account: running look, Stop gives that adapter back") {
        ForgetSettings();
        DeleteMachineTree(wiredKey);
        const auto index = ReadTweakValue(TweakCatalogue()[3], guid);
        {
            SystemMachineRegistry registry;
            SystemRecordLock lock;
            TTweakRecord record(registry, lock);
            REQUIRE(record.Apply({true, true, false, true, false}, wired));
        }
        REQUIRE(MachineKeyExists(wiredKey));
        Program program;  // this user never started the program: no settings at all
        REQUIRE(program.WaitForWindow());
        HWND start = program.Control(u"BtnStart");
        CHECK(U8(Text(start)) == "Running");
        CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 1);

        Click(start);
        REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Run" && IsWindowEnabled(start); }, 60000));
        CHECK_FALSE(MachineKeyExists(wiredKey));  // created for the tweak, removed with it
        CHECK(ReadTweakValue(TweakCatalogue()[3], guid) == index);
        CHECK_FALSE(MachineKeyExists(kRecordKey));
    }
    SUBCASE("this user's status deleted after Start: the window still starts running and Stop gives back") {
        ForgetSettings();
        for (const Tweak& t : TweakCatalogue()) DeleteTweak(t, guid);
        std::vector<std::optional<MachineValue>> before;
        for (const Tweak& t : TweakCatalogue()) before.push_back(ReadTweakValue(t, guid));
        {
            Program program;
            REQUIRE(program.WaitForWindow());
            HWND start = program.Control(u"BtnStart");
            Click(start);
            REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Running" && IsWindowEnabled(start); }, 60000));
            PostMessageW(program.form, WM_CLOSE, 0, 0);
            DWORD code = 1;
            REQUIRE(program.WaitForExit(30000, &code));
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");

        Program program;
        REQUIRE(program.WaitForWindow());
        HWND start = program.Control(u"BtnStart");
        CHECK(U8(Text(start)) == "Running");
        Click(start);
        REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Run" && IsWindowEnabled(start); }, 60000));
        for (size_t i = 0; i < kTweakCount; ++i) {
            CAPTURE(U8(TweakCatalogue()[i].valueName));
            CHECK(ReadTweakValue(TweakCatalogue()[i], guid) == before[i]);
        }
        CHECK_FALSE(MachineKeyExists(kRecordKey));
    }
}
