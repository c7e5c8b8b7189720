// End-to-end tests of the real tarnell.exe under Wine, driven from outside as a user would: the driver
// starts the program, finds its window and controls by class and control identifier, clicks them with
// mouse messages and reads the registry the program writes. The program's probe and service point at
// the loopback fixture server.
//
// Environment: TARNELL_PROGRAM (path of tarnell.exe), optional TARNELL_EXPECT_LANG (UI language the
// locale should give) and TARNELL_EXPECT_DPI (the prefix's DPI).
#include <doctest/doctest.h>
#include <windows.h>
// clang-format off
#include <oleacc.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../support/box_win32.h"
#include "../support/machine_registry_win32.h"
#include "../support/window_search_win32.h"
#include "app/main_layout.h"
#include "base/machine_lock_win32.h"
#include "base/text.h"
#include "base/wide.h"
#include "build_config.h"
#include "config/config_win32.h"
#include "layout_expected.h"
#include "program_driver_win32.h"
#include "theme/palette.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
#include "tuning/registry_writer_win32.h"
#include "tuning/tweak_record.h"
#include "tuning/tweaks.h"

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

    // The configuration card shows the adapter found, once the first frame is on the screen.
    CHECK(WaitUntil([&] { return U8(Text(program.Control(u"LblAdapter"))) == U8(name); }, 5000));
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

    // What the program did, in words, in its log.
    wchar_t localAppData[MAX_PATH] = {};
    REQUIRE(GetEnvironmentVariableW(L"LOCALAPPDATA", localAppData, MAX_PATH) > 0);
    const std::wstring logPath = std::wstring(localAppData) + L"\\Tarnell\\tarnell.log";
    const char* const expected[] = {"Z start: Tarnell ",
                                    "Z adapter: ",
                                    "Z wrote HKEY_LOCAL_MACHINE\\SYSTEM",
                                    "Z start: values written; ",
                                    "Z gave back HKEY_LOCAL_MACHINE\\SYSTEM",
                                    "Z stop: values given back; "};
    CHECK(WaitUntil(
        [&] {
            const std::string log = ReadWholeFile(logPath);
            for (const char* line : expected)
                if (log.find(line) == std::string::npos) return false;
            return true;
        },
        10000));
    {
        const std::string log = ReadWholeFile(logPath);
        for (const char* line : expected) {
            CAPTURE(line);
            CHECK(log.find(line) != std::string::npos);
        }
    }

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
    Program program;
    REQUIRE(program.WaitForWindow());
    CHECK(U8(Text(program.form)) == (lang == u"ko" ? "타르넬" : "Tarnell"));
    // The table's rows for the languages the test runs under; German has no column: English.
    struct Expected {
        const char* lang;
        const char* title;
        const char* home;
        const char* config;
        const char* run;
        const char* adapter;
        const char* throttling;
        const char* version;
    };
    const Expected table[] = {
        {"en", "Tarnell", "Home", "Config", "Run", "Network Adapter", "Network Throttling Index", "Version"},
        {"de", "Tarnell", "Home", "Config", "Run", "Network Adapter", "Network Throttling Index", "Version"},
        {"ko", "타르넬", "처음화면", "환경설정", "실행하기", "네트워크 아답터 정보", "네트워크 쓰로틀링",
         "버전"},
        {"ja", "タルネル", "ホーム", "設定", "実行する", "ネットワークアダプタ",
         "ネットワークスロットリング指数", "バージョン"},
    };
    const Expected* expected = nullptr;
    for (const Expected& e : table)
        if (FromAscii(e.lang) == lang) expected = &e;
    REQUIRE(expected);
    const std::pair<const char16_t*, const char*> rows[] = {
        {u"LblTitle", expected->title},    {u"BtnHome", expected->home},
        {u"BtnConfig", expected->config},  {u"BtnStart", expected->run},
        {u"GroupBox1", expected->adapter}, {u"GroupBox3", expected->throttling}};
    for (const auto& [control, caption] : rows) {
        CAPTURE(U8(control));
        CHECK(U8(Text(program.Control(control))) == caption);
    }
    CHECK(U8(Text(program.Control(u"ChkTcpNoDelay"))) == "TcpNoDelay");
    CHECK(U8(Text(program.Control(u"LblVersion"))) ==
          std::string(expected->version) + ": " + TARNELL_VERSION_TEXT);
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
    HWND box = WaitForBox(program.pi.dwProcessId, 60000);
    REQUIRE(box);
    const BoxContent content = ReadBox(box);
    CHECK(content.title == L"Tarnell");
    CHECK(content.buttons == std::vector<std::wstring>{L"Close"});
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
            REQUIRE(record.Apply({true, true, false, true, false}, wired) == RecordResult::Done);
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

namespace {

// Window events of the program as an out-of-context hook in this process receives them.
std::vector<std::pair<DWORD, HWND>> g_events;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT && child == CHILDID_SELF) g_events.push_back({event, hwnd});
}

struct Heard {
    long role = 0, state = 0;
    std::string name;
};

Heard Hear(IAccessible* acc) {
    Heard h;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(acc->get_accRole(self, &v)) && v.vt == VT_I4) h.role = v.lVal;
    VariantInit(&v);
    if (SUCCEEDED(acc->get_accState(self, &v)) && v.vt == VT_I4) h.state = v.lVal;
    BSTR name = nullptr;
    const HRESULT hr = acc->get_accName(self, &name);
    if (SUCCEEDED(hr) && name)
        h.name = U8(std::u16string(reinterpret_cast<const char16_t*>(name), SysStringLen(name)));
    if (name) SysFreeString(name);
    return h;
}

HWND FocusOf(const Program& program) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(program.form, nullptr), &info) ? info.hwndFocus
                                                                                    : nullptr;
}

void TypeKey(WORD key, bool ctrl = false) {
    std::vector<INPUT> input;
    auto add = [&](WORD vk, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        input.push_back(i);
    };
    if (ctrl) add(VK_CONTROL, false);
    add(key, false);
    add(key, true);
    if (ctrl) add(VK_CONTROL, true);
    SendInput(UINT(input.size()), input.data(), sizeof(INPUT));
}

}  // namespace

TEST_CASE(
    "program: record: while another Tarnell holds the record, Run keeps the window answering and busy") {
    ForgetSettings();
    DeleteMachineTree(kRecordKey);
    Program program;
    REQUIRE(program.WaitForWindow());
    HWND start = program.Control(u"BtnStart");
    REQUIRE(start);
    REQUIRE(U8(Text(start)) == "Run");

    // Another Tarnell (here: this process) is writing the machine's record and does not let go.
    std::optional<TMachineLock> held(std::in_place, L"TarnellRecord", 0);
    REQUIRE(held->Held());
    Click(start);
    REQUIRE(WaitUntil([&] { return Text(start).empty() && !IsWindowEnabled(start); }, 10000));

    // For three seconds the window answers as the system asks it, and keeps its busy look.
    DWORD slowest = 0;
    int unanswered = 0;
    for (const ULONGLONG until = GetTickCount64() + 3000; GetTickCount64() < until;) {
        const ULONGLONG before = GetTickCount64();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(program.form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &result))
            ++unanswered;
        slowest = std::max(slowest, DWORD(GetTickCount64() - before));
        PumpFor(20);
    }
    MESSAGE("slowest answer " << slowest << " ms, " << unanswered << " unanswered");
    CHECK(unanswered == 0);
    CHECK(slowest < 1000);
    CHECK(Text(start).empty());
    CHECK_FALSE(MachineKeyExists(kRecordKey));  // nothing written while the lock is held

    // Once it lets go, the Start goes through.
    held.reset();
    REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Running" && IsWindowEnabled(start); }, 60000));
    CHECK(MachineKeyExists(kRecordKey));
    Click(start);
    REQUIRE(WaitUntil([&] { return U8(Text(start)) == "Run" && IsWindowEnabled(start); }, 60000));
    CHECK_FALSE(MachineKeyExists(kRecordKey));
}

TEST_CASE("program: a screen reader and the keyboard from outside start and stop the tweak set") {
    ForgetSettings();
    CoInitialize(nullptr);
    Program program;
    REQUIRE(program.WaitForWindow());
    HWND run = program.Control(u"BtnStart");
    HWND config = program.Control(u"BtnConfig");
    REQUIRE(run);
    REQUIRE(WaitUntil([&] { return Text(run) == u"Run"; }, 30000));

    // MSAA across processes: the interface id spelled out (mingw's import library gets it wrong).
    IAccessible* acc = nullptr;
    REQUIRE(SUCCEEDED(AccessibleObjectFromWindow(run, DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&acc))));
    REQUIRE(acc);
    Heard idle = Hear(acc);
    CHECK(idle.role == ROLE_SYSTEM_PUSHBUTTON);
    CHECK(idle.name == "Run");  // what it shows
    CHECK((idle.state & (STATE_SYSTEM_PRESSED | STATE_SYSTEM_UNAVAILABLE)) == 0);

    g_events.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                         RecordEvent, program.pi.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    REQUIRE(hook);
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    CHECK(acc->accDoDefaultAction(self) == S_OK);
    // The default action starts the run; it ends running (the probe answers), and readers are told.
    const DWORD started = GetTickCount();
    CHECK(WaitUntil([&] { return Text(run) == u"Running"; }, 90000));
    MESSAGE("running after " << (GetTickCount() - started) << " ms");
    auto received = [&](DWORD event) {
        return std::find(g_events.begin(), g_events.end(), std::make_pair(event, run)) != g_events.end();
    };
    CHECK(WaitUntil([&] { return received(EVENT_OBJECT_STATECHANGE) && received(EVENT_OBJECT_NAMECHANGE); },
                    10000));
    Heard running = Hear(acc);
    CHECK(running.name == "Running");
    CHECK((running.state & STATE_SYSTEM_PRESSED) != 0);
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 1);

    // The keyboard through the system's input queue: Tab four times reaches the run switch, Space stops.
    SetForegroundWindow(program.form);
    REQUIRE(WaitUntil([&] { return GetForegroundWindow() == program.form; }, 10000));
    for (int i = 0; i < 4; ++i) {
        TypeKey(VK_TAB);
        PumpFor(100);
    }
    CHECK(FocusOf(program) == run);
    TypeKey(VK_SPACE);
    CHECK(WaitUntil([&] { return Text(run) == u"Run"; }, 90000));
    CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == 0);
    CHECK(WaitUntil([&] { return FocusOf(program) == run; }, 10000));  // back on the switch after the wait
    // Ctrl+Tab: the configuration card, focus on its header button.
    TypeKey(VK_TAB, true);
    CHECK(WaitUntil([&] { return IsWindowVisible(program.Control(u"Card2")) != FALSE; }, 10000));
    CHECK(WaitUntil([&] { return FocusOf(program) == config; }, 10000));

    UnhookWinEvent(hook);
    acc->Release();
    CoUninitialize();
    ForgetSettings();
}

namespace {

// The pixels of a rectangle of the screen, as colour values ($00BBGGRR).
std::vector<TColor> ScreenPixels(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return {};
    std::vector<uint32_t> pixels(size_t(w) * size_t(h));
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(dc, old);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    GetDIBits(dc, bitmap, 0, UINT(h), pixels.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    std::vector<TColor> colors;
    for (uint32_t p : pixels) colors.push_back(RgbColor(uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)));
    return colors;
}

// The contrast of a text with what is behind it: the most common colour is the background, the pixel that
// stands out most from it is the middle of a stroke.
double TextContrast(const RECT& r) {
    std::map<TColor, int> counts;
    for (TColor c : ScreenPixels(r)) ++counts[c];
    TColor background = 0;
    int most = 0;
    for (const auto& [color, n] : counts) {
        if (n > most) most = n, background = color;
    }
    double best = 1.0;
    for (const auto& [color, n] : counts) best = std::max(best, ContrastRatio(color, background));
    return best;
}

}  // namespace

TEST_CASE("program: a dark system scheme hides no text of either card") {
    ForgetSettings();
    REQUIRE(GetSysColor(COLOR_WINDOWTEXT) == RGB(255, 255, 255));  // the prefix's dark scheme
    Program program;
    REQUIRE(program.WaitForWindow());
    SetWindowPos(program.form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const int dpi = int(GetDpiForWindow(program.form));
    RECT client;
    GetClientRect(program.form, &client);
    MapWindowPoints(program.form, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    struct Area {
        const char16_t* control;
        int insetLeft96;  // a check box's box is left out
        int height96;     // a group box: only its caption's strip; 0: the whole control
        double minimum;   // the tagline is the layout's fixed gray, 3.95:1 on white
    };
    const Area home[] = {{u"LblTitle", 0, 0, 4.5}, {u"LblContent", 0, 0, 3.9}, {u"BtnStart", 0, 0, 4.5}};
    const Area config[] = {{u"GroupBox1", 0, 16, 4.5},
                           {u"GroupBox2", 0, 16, 4.5},
                           {u"GroupBox3", 0, 16, 4.5},
                           {u"LblAdapter", 0, 0, 4.5},
                           {u"LblIPAddress", 0, 0, 4.5},
                           {u"LblVersion", 0, 0, 4.5},
                           {u"ChkTCPAckFrequency", 18, 0, 4.5},
                           {u"ChkTcpDelAckTick", 18, 0, 4.5},
                           {u"ChkTcpNoDelay", 18, 0, 4.5},
                           {u"ChkNetworkThrottlingIndex", 18, 0, 4.5},
                           {u"ChkSystemResponsiveness", 18, 0, 4.5}};
    auto check = [&](const Area* areas, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const Area& a = areas[i];
            CAPTURE(U8(a.control));
            RECT r;
            GetWindowRect(program.Control(a.control), &r);
            r.left += MulDiv(a.insetLeft96, dpi, 96);
            if (a.height96) r.bottom = r.top + MulDiv(a.height96, dpi, 96);
            IntersectRect(&r, &r, &client);
            double contrast = 1.0;
            // The window may still be painting: wait (bounded) for the text to stand out.
            WaitUntil([&] { return (contrast = TextContrast(r)) >= a.minimum; }, 5000);
            MESSAGE(U8(a.control) << ": contrast " << contrast);
            CHECK(contrast >= a.minimum);
        }
    };
    check(home, std::size(home));
    Click(program.Control(u"BtnConfig"));
    REQUIRE(WaitUntil([&] { return IsWindowVisible(program.Control(u"Card2")) != FALSE; }, 10000));
    check(config, std::size(config));
    ForgetSettings();
}

namespace {

TColor PixelAt(int x, int y) {
    const std::vector<TColor> p = ScreenPixels(RECT{x, y, x + 1, y + 1});
    return p.empty() ? TColor(0) : p[0];
}

// What the focus ring shows at the middle of a control's top edge (the ring is the outermost pixels, the
// gap and the fill inside it): the ring's colour, the pixel just outside the control and the fill a few
// pixels in (below the ring and its gap, above any caption).
struct RingSample {
    TColor ring = 0, outside = 0, fill = 0;
    double againstOutside = 1.0, againstFill = 1.0;
};

RingSample SampleRing(HWND control, int dpi) {
    RECT r;
    GetWindowRect(control, &r);
    const int x = (r.left + r.right) / 2;
    RingSample s;
    s.ring = PixelAt(x, r.top);
    s.outside = PixelAt(x, r.top - 1);
    s.fill = PixelAt(x, r.top + MulDiv(5, dpi, 96));
    s.againstOutside = ContrastRatio(s.ring, s.outside);
    s.againstFill = ContrastRatio(s.ring, s.fill);
    return s;
}

}  // namespace

TEST_CASE(
    "program: the keyboard focus shows as a ring that stands out on every control, in both run states") {
    ForgetSettings();
    Program program;
    REQUIRE(program.WaitForWindow());
    HWND form = program.form;
    SetWindowPos(form, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form);
    REQUIRE(WaitUntil([&] { return GetForegroundWindow() == form; }, 10000));
    const int dpi = int(GetDpiForWindow(form));
    HWND run = program.Control(u"BtnStart");
    HWND home = program.Control(u"BtnHome");
    HWND config = program.Control(u"BtnConfig");
    REQUIRE(WaitUntil([&] { return Text(run) == u"Run"; }, 30000));

    // Tab to `control` and sample its ring once painted (bounded wait, the figures printed).
    auto tabTo = [&](HWND control) {
        for (int i = 0; i < 12 && FocusOf(program) != control; ++i) {
            TypeKey(VK_TAB);
            WaitUntil([&] { return FocusOf(program) != nullptr; }, 2000);
            PumpFor(50);
        }
        REQUIRE(FocusOf(program) == control);
        RingSample s;
        WaitUntil(
            [&] {
                s = SampleRing(control, dpi);
                return s.againstOutside >= 3.0 && s.againstFill >= 3.0;
            },
            5000);
        return s;
    };
    auto check = [&](const char* name, HWND control) {
        CAPTURE(name);
        const RingSample s = tabTo(control);
        CAPTURE(s.ring);
        CAPTURE(s.outside);
        CAPTURE(s.fill);
        MESSAGE(std::string(name) << ": ring " << s.againstOutside << ":1 against its surroundings, "
                                  << s.againstFill << ":1 against the fill");
        CHECK(s.againstOutside >= 3.0);
        CHECK(s.againstFill >= 3.0);
        return s;
    };

    // Idle, home card: the selected Home tab (accent fill), the Config tab, the logo, the run switch.
    const RingSample homeRing = check("BtnHome, selected", home);
    const RingSample configRing = check("BtnConfig, not selected", config);
    // Focused and selected are told apart by more than a shade: the unselected tab keeps no fill.
    CHECK(ContrastRatio(configRing.fill, homeRing.fill) >= 3.0);
    check("ImgLogo", program.Control(u"ImgLogo"));
    check("BtnStart, idle", run);

    // Running: the switch down, filled with the accent.
    TypeKey(VK_SPACE);
    REQUIRE(WaitUntil([&] { return Text(run) == u"Running" && IsWindowEnabled(run); }, 90000));
    REQUIRE(WaitUntil([&] { return FocusOf(program) == run; }, 10000));
    check("BtnStart, running", run);
    check("BtnHome, running", home);
    TypeKey(VK_TAB, true);
    REQUIRE(WaitUntil([&] { return IsWindowVisible(program.Control(u"Card2")) != FALSE; }, 10000));
    check("BtnConfig, selected", config);
    // Back to idle for the option switches (disabled while running).
    TypeKey(VK_TAB, true);
    REQUIRE(WaitUntil([&] { return FocusOf(program) == home; }, 10000));
    tabTo(run);
    TypeKey(VK_SPACE);
    REQUIRE(WaitUntil([&] { return Text(run) == u"Run" && IsWindowEnabled(run); }, 90000));
    TypeKey(VK_TAB, true);
    REQUIRE(WaitUntil([&] { return IsWindowVisible(program.Control(u"Card2")) != FALSE; }, 10000));

    // The option switches are the system's check boxes with the system's cue: what focus changes in the
    // box's text area stands out from the white behind it.
    for (const char16_t* name : {u"ChkTCPAckFrequency", u"ChkTcpDelAckTick", u"ChkTcpNoDelay",
                                 u"ChkNetworkThrottlingIndex", u"ChkSystemResponsiveness"}) {
        CAPTURE(U8(name));
        HWND box = program.Control(name);
        RECT r;
        GetWindowRect(box, &r);
        const std::vector<TColor> before = ScreenPixels(r);
        for (int i = 0; i < 12 && FocusOf(program) != box; ++i) {
            TypeKey(VK_TAB);
            PumpFor(50);
        }
        REQUIRE(FocusOf(program) == box);
        double best = 1.0;
        WaitUntil(
            [&] {
                const std::vector<TColor> after = ScreenPixels(r);
                best = 1.0;
                for (size_t i = 0; i < after.size() && i < before.size(); ++i) {
                    if (after[i] != before[i]) best = std::max(best, ContrastRatio(after[i], before[i]));
                }
                return best >= 3.0;
            },
            5000);
        MESSAGE(U8(name) << ": the cue stands out " << best << ":1");
        CHECK(best >= 3.0);
    }
    ForgetSettings();
}
