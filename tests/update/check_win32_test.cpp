// The whole service check against the loopback fixture service: what the service received, and what the
// completion did (prompt, shell, notice line, callback). The prompt is answered by a hook.
#include <doctest/doctest.h>

#include <memory>
#include <stdexcept>

#include "base/shell_open_win32.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "fixture_win32.h"
#include "translate/translation.h"
#include "update/update_check_win32.h"
#include "update/update_dialog_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_status_win32.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

struct Outcome {
    bool called = false;
    bool flag = false;
    std::u16string data;
};

// One test's world: a visible main window, hooks recording the shell, the prompt and the pauses.
class CheckFixture {
  public:
    CheckFixture() {
        static bool once = [] {
            InitUiTasks();
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"UpdateCheckTestForm";
            RegisterClassW(&wc);
            return true;
        }();
        (void)once;
        form = CreateWindowExW(0, L"UpdateCheckTestForm", L"Tarnell", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                               100, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetShellOpenHook([this](const std::u16string& target) {
            opened.push_back(target);
            inSendAtShell = inSendAtShell || InSendMessage();
        });
        SetServicePauseHook([this](int ms) {
            if (throwInPause) throw std::runtime_error("no resources");
            pauses.push_back(ms);
            return true;
        });
        SetUpdateDialogHook([this](HWND prompt) {
            ++prompts;
            inSendAtPrompt = inSendAtPrompt || InSendMessage();
            wchar_t title[256] = {};
            GetWindowTextW(prompt, title, 256);
            promptTitle = FromWide(title);
            promptTopMost = (GetWindowLongPtrW(prompt, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            if (tickHold) SendDlgItemMessageW(prompt, kPromptHoldCheckId, BM_CLICK, 0, 0);
            PostMessageW(prompt, WM_COMMAND, answer, 0);
        });
    }
    ~CheckFixture() {
        SetShellOpenHook({});
        SetServicePauseHook({});
        SetWorkerStartFailsForTests(false);
        SetUpdateDialogHook({});
        DestroyWindow(form);
    }

    std::shared_ptr<Outcome> Run(const std::u16string& url, int timeoutMs = 60000) {
        auto outcome = std::make_shared<Outcome>();
        CheckUpdateWithAnswer(
            url,
            [outcome](bool flag, const std::u16string& data) {
                outcome->called = true;
                outcome->flag = flag;
                outcome->data = data;
            },
            10);
        REQUIRE_MESSAGE(PumpUntil([&] { return outcome->called; }, timeoutMs), "the callback never came");
        return outcome;
    }

    HWND form = nullptr;
    std::vector<std::u16string> opened;
    std::vector<int> pauses;  // the pause after each failed attempt, in ms
    bool throwInPause = false;
    int prompts = 0;
    std::u16string promptTitle;
    bool promptTopMost = false;
    bool tickHold = false;
    bool inSendAtPrompt = false;  // the completion ran inside a message sent by the worker
    bool inSendAtShell = false;
    WPARAM answer = IDYES;
};

const std::u16string kUpdateNotifyAnswer =
    u"{\"update\":\"https:\\/\\/dl.tarnell.example\\/setup.exe\",\"notify\":\"https://news.tarnell.example/"
    u"n\","
    u"\"info\":{\"style\":\"hold\",\"text\":\"Remind me later\",\"flag\":\"stayontop\"}}";

}  // namespace

TEST_CASE(
    "An answer with update and notify: prompt, Yes opens the update, the notice line shows, callback true") {
    CheckFixture f;
    SetCurrentLanguage(u"de");
    const auto outcome = f.Run(FixtureUrl("/api/update-notify?t=yes"));

    CHECK(outcome->flag);
    CHECK(outcome->data == kUpdateNotifyAnswer);
    CHECK(f.prompts == 1);
    CHECK(f.promptTitle == u"Tarnell");
    CHECK(f.promptTopMost);
    CHECK(f.opened == std::vector<std::u16string>{u"https://dl.tarnell.example/setup.exe"});
    CHECK_FALSE(f.inSendAtPrompt);
    CHECK_FALSE(f.inSendAtShell);
    HWND bar = FindUpdateStatusBar(f.form);
    REQUIRE(bar);
    CHECK(UpdateStatusHint(bar) == u"https://news.tarnell.example/n");
    CHECK(UpdateStatusText(bar) == u"Update möglich");

    const auto received = ReceivedRequests("t=yes");
    REQUIRE(received.size() == 1);
    CHECK(received[0].target == "/api/update-notify?" + RunTag("t=yes"));
    CHECK(CustomHeaderNames(received[0]) ==
          std::vector<std::string>{"User-Version", "User-Language", "User-Debug", "User-Union"});
    CHECK(*received[0].Header("User-Version") == "0.0.0.0");  // this test program has no version resource
    CHECK(*received[0].Header("User-Language") == "de");
    CHECK(*received[0].Header("User-Debug") == "false");
    const std::u16string clientId = GetClientID();
    CHECK(clientId.size() == 32);
    CHECK(*received[0].Header("User-Union") == Utf16ToUtf8(clientId));
    CHECK(f.pauses.empty());
}

TEST_CASE(
    "The hold box ticked and No: nothing opened, the hold request goes out with exactly its two headers") {
    CheckFixture f;
    f.tickHold = true;
    f.answer = IDNO;
    const auto outcome = f.Run(FixtureUrl("/api/update-notify?t=hold"));

    CHECK_FALSE(outcome->flag);
    CHECK(f.prompts == 1);
    CHECK(f.opened.empty());
    CHECK(FindUpdateStatusBar(f.form));  // the notice line follows whatever the answer
    std::vector<ReceivedRequest> received;
    REQUIRE(PumpUntil([&] { return (received = ReceivedRequests("t=hold")).size() >= 2; }, 20000));
    REQUIRE(received.size() == 2);
    CHECK(CustomHeaderNames(received[1]) == std::vector<std::string>{"User-Version", "User-Command"});
    CHECK(*received[1].Header("User-Version") == "0.0.0.0");
    CHECK(*received[1].Header("User-Command") == "hold");
    CHECK(received[1].target == "/api/update-notify?" + RunTag("t=hold"));
}

TEST_CASE("The prompt closed without choosing: no update, no hold request when the box stays clear") {
    CheckFixture f;
    f.answer = IDCANCEL;
    const auto outcome = f.Run(FixtureUrl("/api/update-notify?t=cancel"));
    CHECK_FALSE(outcome->flag);
    CHECK(f.opened.empty());
    PumpUntil([] { return false; }, 500);
    CHECK(ReceivedRequests("t=cancel").size() == 1);
}

TEST_CASE("Answers that show no prompt") {
    SUBCASE("notify only: the notice line alone") {
        CheckFixture f;
        const auto outcome = f.Run(FixtureUrl("/api/notify-only?t=notify"));
        CHECK_FALSE(outcome->flag);
        CHECK(f.prompts == 0);
        HWND bar = FindUpdateStatusBar(f.form);
        REQUIRE(bar);
        CHECK(UpdateStatusHint(bar) == u"https://news.tarnell.example/only");
    }
    SUBCASE("an empty update with an info object: nothing") {
        CheckFixture f;
        const auto outcome = f.Run(FixtureUrl("/api/empty-update-info?t=empty"));
        CHECK_FALSE(outcome->flag);
        CHECK(outcome->data.find(u"\"info\":{") != std::u16string::npos);
        CHECK(f.prompts == 0);
        CHECK_FALSE(FindUpdateStatusBar(f.form));
    }
    SUBCASE("a 404 page: taken as the answer at once, no retry, no field") {
        CheckFixture f;
        const auto outcome = f.Run(FixtureUrl("/api/missing?t=missing"));
        CHECK_FALSE(outcome->flag);
        CHECK(outcome->data.find(u"<h1>Not Found</h1>") != std::u16string::npos);
        CHECK(ReceivedRequests("t=missing").size() == 1);
        CHECK(f.pauses.empty());
        CHECK(f.prompts == 0);
        CHECK_FALSE(FindUpdateStatusBar(f.form));
    }
    SUBCASE("links the shell must not get: neither prompt nor notice line") {
        CheckFixture f;
        const auto outcome = f.Run(FixtureUrl("/api/unsafe-links?t=unsafe"));
        CHECK_FALSE(outcome->flag);
        CHECK(f.prompts == 0);
        CHECK(f.opened.empty());
        CHECK_FALSE(FindUpdateStatusBar(f.form));
    }
}

TEST_CASE("No listener: six attempts with a full pause after each, then the callback with nothing") {
    CheckFixture f;
    const auto outcome = f.Run(ClosedPortUrl("/api/update-notify"));
    CHECK_FALSE(outcome->flag);
    CHECK(outcome->data.empty());
    CHECK(f.pauses == std::vector<int>(6, 10000));
    CHECK(f.prompts == 0);
    CHECK_FALSE(FindUpdateStatusBar(f.form));
}

TEST_CASE("An answer cut off before its end is retried as a failed attempt; its link is never opened") {
    CheckFixture f;
    f.answer = IDYES;
    const auto outcome = f.Run(FixtureUrl("/api/truncated?t=truncatedcheck"));
    CHECK_FALSE(outcome->flag);
    CHECK(outcome->data.empty());
    CHECK(f.pauses == std::vector<int>(6, 10000));
    CHECK(ReceivedRequests("t=truncatedcheck").size() == 6);
    CHECK(f.prompts == 0);
    CHECK(f.opened.empty());
}

TEST_CASE("Without a callback CheckUpdate returns after the completion has run") {
    CheckFixture f;
    CheckUpdate(FixtureUrl("/api/notify-only?t=sync"), nullptr, 10);
    HWND bar = FindUpdateStatusBar(f.form);  // no message pumping needed: it ran during the wait
    REQUIRE(bar);
    CHECK(UpdateStatusHint(bar) == u"https://news.tarnell.example/only");
    CHECK(UpdateURL() == FixtureUrl("/api/notify-only?t=sync"));
    CHECK(UpdateOffset() == 10);
}

TEST_CASE("CheckUpdate's callback learns only the flag") {
    CheckFixture f;
    bool called = false, accepted = true;
    CheckUpdate(
        FixtureUrl("/api/notify-only?t=flagonly"),
        [&](bool flag) {
            called = true;
            accepted = flag;
        },
        10);
    REQUIRE(PumpUntil([&] { return called; }));
    CHECK_FALSE(accepted);
}

TEST_CASE("A worker that cannot do its work still calls back with nothing") {
    CheckFixture f;
    SUBCASE("the thread cannot be created") {
        SetWorkerStartFailsForTests(true);
        const auto outcome = f.Run(FixtureUrl("/api/update-notify?t=nothread"), 10000);
        CHECK_FALSE(outcome->flag);
        CHECK(outcome->data.empty());
        CHECK(ReceivedRequests("t=nothread").empty());
    }
    SUBCASE("an error inside the worker") {
        f.throwInPause = true;
        const auto outcome = f.Run(ClosedPortUrl("/api/update-notify"), 10000);
        CHECK_FALSE(outcome->flag);
        CHECK(outcome->data.empty());
    }
    CHECK(f.prompts == 0);
    CHECK(f.opened.empty());
}

TEST_CASE("An answer over 1 MiB is taken at once as an answer without fields: no retry, no prompt") {
    CheckFixture f;
    const auto outcome = f.Run(FixtureUrl("/api/big?t=bigcheck"));
    CHECK_FALSE(outcome->flag);
    CHECK(outcome->data.empty());
    CHECK(f.pauses.empty());
    CHECK(f.prompts == 0);
    CHECK(FindUpdateStatusBar(f.form) == nullptr);
    CHECK(ReceivedRequests("t=bigcheck").size() == 1);
}

TEST_CASE("User-Union carries VUID read as the settings store reads texts, and is sent empty otherwise") {
    CheckFixture f;
    auto utf16 = [](const std::u16string& text) {
        std::vector<BYTE> bytes;
        for (char16_t c : text) {
            bytes.push_back(BYTE(c & 0xFF));
            bytes.push_back(BYTE(c >> 8));
        }
        return bytes;
    };
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> bytes;
        std::string header;  // what the service receives
    };
    const Case cases[] = {
        {"REG_SZ", REG_SZ, utf16(std::u16string(u"0123ABCD\0", 9)), "0123ABCD"},
        {"REG_EXPAND_SZ, left unexpanded", REG_EXPAND_SZ, utf16(std::u16string(u"%TEMP%ab\0", 9)),
         "%TEMP%ab"},
        {"cut at the first NUL", REG_SZ, utf16(std::u16string(u"ab\0cd\0", 6)), "ab"},
        {"no terminating NUL", REG_SZ, utf16(u"abc"), "abc"},
        {"a dangling odd byte", REG_SZ, {'a', 0, 'b'}, "a"},
        {"no bytes", REG_SZ, {}, ""},
        {"a number", REG_DWORD, {0xD2, 0x04, 0, 0}, ""},
        {"binary", REG_BINARY, utf16(u"abc"), ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vorbeck");
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vorbeck", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr) == ERROR_SUCCESS);
        RegSetValueExW(key, L"VUID", 0, c.type, c.bytes.empty() ? nullptr : c.bytes.data(),
                       DWORD(c.bytes.size()));
        RegCloseKey(key);
        const std::string tag = "t=vuid" + std::to_string(n++);
        f.Run(FixtureUrl("/api/notify-only?" + tag));
        const auto received = ReceivedRequests(tag);
        REQUIRE(received.size() == 1);
        CHECK(CustomHeaderNames(received[0]) ==
              std::vector<std::string>{"User-Version", "User-Language", "User-Debug", "User-Union"});
        REQUIRE(received[0].Header("User-Union"));
        CHECK(*received[0].Header("User-Union") == c.header);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vorbeck");
}
