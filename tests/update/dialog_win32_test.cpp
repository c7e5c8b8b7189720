// The update prompt under Wine at 96 DPI: its geometry for the main window's offset of 10, its parts per
// info style, its texts, and its answers. A hook answers the prompt instead of a user.
#include <doctest/doctest.h>

#include <functional>

#include "base/application_title.h"
#include "base/file_version_win32.h"
#include "base/shell_open_win32.h"
#include "base/wide.h"
#include "fixture_win32.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "update/update_check_win32.h"
#include "update/update_dialog_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

struct PromptView {
    RECT outer{}, client{};
    bool hasLine = false, hasCheck = false, hasLabel = false;
    RECT line{}, check{}, label{}, yesButton{}, noButton{};  // in client coordinates
    std::u16string title, yes, no, checkCaption, labelCaption;
    bool topMost = false;
    HWND owner = nullptr;
    bool smallIcon = false;
    bool labelUnderlined = false;
    COLORREF background = 0, lineColour = 0;
    bool labelHasBlue = false;
};

std::u16string TextOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return FromWide(buffer);
}

RECT ClientRectOf(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Opens the prompt for `answer`, looks at it, runs `act` and closes it with `command`.
PromptView ShowPrompt(const std::u16string& answer, WPARAM command, bool* result = nullptr,
                      const std::function<void(HWND)>& act = {}, const std::string& shot = {}) {
    PromptView view;
    SetUpdateDialogHook([&](HWND prompt) {
        GetWindowRect(prompt, &view.outer);
        GetClientRect(prompt, &view.client);
        view.title = TextOf(prompt);
        view.yes = TextOf(GetDlgItem(prompt, IDYES));
        view.no = TextOf(GetDlgItem(prompt, IDNO));
        view.yesButton = ClientRectOf(prompt, GetDlgItem(prompt, IDYES));
        view.noButton = ClientRectOf(prompt, GetDlgItem(prompt, IDNO));
        view.topMost = (GetWindowLongPtrW(prompt, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        view.owner = GetWindow(prompt, GW_OWNER);
        view.smallIcon = SendMessageW(prompt, WM_GETICON, ICON_SMALL, 0) != 0;
        const Pixels pixels = CaptureClient(prompt);
        view.background = pixels.At(2, 2);
        if (HWND line = GetDlgItem(prompt, kPromptLineId)) {
            view.hasLine = true;
            view.line = ClientRectOf(prompt, line);
            view.lineColour = pixels.At(view.line.left + 20, view.line.top);
        }
        if (HWND check = GetDlgItem(prompt, kPromptHoldCheckId)) {
            view.hasCheck = true;
            view.check = ClientRectOf(prompt, check);
            view.checkCaption = TextOf(check);
        }
        if (HWND label = GetDlgItem(prompt, kPromptNoteLabelId)) {
            view.hasLabel = true;
            view.label = ClientRectOf(prompt, label);
            view.labelCaption = TextOf(label);
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof font, &font);
            view.labelUnderlined = font.lfUnderline != 0;
            const Pixels text = CaptureClient(label);
            for (COLORREF c : text.data) view.labelHasBlue |= (c == RGB(0, 0, 255));
        }
        SaveWindowShot(prompt, ShotFolder(), shot);
        if (act) act(prompt);
        PostMessageW(prompt, WM_COMMAND, command, 0);
    });
    const bool answered = UpdateDialog(answer);
    if (result) *result = answered;
    SetUpdateDialogHook({});
    return view;
}

int Height(const RECT& r) {
    return r.bottom - r.top;
}
int Width(const RECT& r) {
    return r.right - r.left;
}

struct Setup {
    Setup() {
        static bool once = [] {
            LoadTranslationTable();
            return true;
        }();
        (void)once;
        SetCurrentLanguage(u"en");
    }
};

}  // namespace

TEST_CASE("The extra band for offset 10 at 96 DPI: outer height, line and control tops") {
    Setup setup;
    // CheckUpdate sets UpdateOffset. Without a URL and without pauses the check ends at once; its
    // completion cannot run in this program (no UI hand-over), so no prompt comes from it.
    SetServicePauseHook([](int) { return true; });
    CheckUpdate(u"", nullptr, 10);
    SetServicePauseHook({});
    REQUIRE(UpdateOffset() == 10);
    const PromptView plain = ShowPrompt(u"{}", IDNO, nullptr, {}, "prompt_plain");
    REQUIRE(Height(plain.outer) > 0);
    CHECK_FALSE(plain.hasLine);
    CHECK_FALSE(plain.hasCheck);
    CHECK_FALSE(plain.hasLabel);

    struct Case {
        const char* style;
        bool check, label;
        const char* shot;
    };
    const Case cases[] = {{"hold", true, false, "prompt_hold"},
                          {"note", false, true, "prompt_note"},
                          {"HOLD", false, false, "prompt_hold_capitals"},
                          {"other", false, false, "prompt_other_style"}};
    for (const auto& c : cases) {
        CAPTURE(c.style);
        const std::u16string answer = u"{\"info\":{\"style\":\"" + FromAscii(c.style) +
                                      u"\",\"text\":\"Remind me later\",\"url\":\"https://n.example/\"}}";
        const PromptView view = ShowPrompt(answer, IDNO, nullptr, {}, c.shot);
        const int outerHeight = Height(view.outer);
        CHECK(outerHeight == Height(plain.outer) + 30);
        CHECK(Width(view.outer) == Width(plain.outer));
        REQUIRE(view.hasLine);
        CHECK(view.line.left == 0);
        CHECK(view.line.top == outerHeight - 66);
        CHECK(Height(view.line) == 1);
        CHECK(Width(view.line) == Width(view.outer));
        CHECK(view.lineColour == RGB(0xCC, 0xCC, 0xCC));
        // The line lies in the band: below the buttons' row with a gap of at least 8 px, above the control.
        CAPTURE(view.yesButton.bottom);
        CHECK(view.line.top >= view.yesButton.bottom + 8);
        CHECK(view.line.top >= view.noButton.bottom + 8);
        CHECK(view.line.top + 10 == outerHeight - 56);
        CHECK(view.hasCheck == c.check);
        CHECK(view.hasLabel == c.label);
        if (c.check) {
            CHECK(view.check.top == outerHeight - 56);
            CHECK(view.check.left == 10);
            // Inside the dialog, with the same margin on the right as on the left.
            CHECK(view.check.right == view.client.right - 10);
            CHECK(view.checkCaption == u"Remind me later");
        }
        if (c.label) {
            CHECK(view.label.top == outerHeight - 56);
            CHECK(view.label.left == 10);
            CHECK(view.labelCaption == u"Remind me later");
            CHECK(view.labelUnderlined);
            CHECK(view.labelHasBlue);
        }
    }
}

TEST_CASE("The extra band at the prompt's DPI: grown height, line, and control at their scaled places") {
    Setup setup;
    SetServicePauseHook([](int) { return true; });
    CheckUpdate(u"", nullptr, 10);  // UpdateOffset 10, as the main window passes
    SetServicePauseHook({});
    // scale(v) = v x whole-percent factor / 100, rounded: 96 DPI is 100 %, 144 DPI is 150 %.
    struct Row {
        int dpi, grow, lineFromBottom, controlFromBottom, controlLeft;
    };
    const Row rows[] = {{96, 30, 66, 56, 10}, {144, 45, 99, 84, 15}};
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    CAPTURE(dpi);
    const Row* row = nullptr;
    for (const Row& r : rows)
        if (r.dpi == dpi) row = &r;
    REQUIRE_MESSAGE(row, "no expected geometry for this DPI");

    const PromptView plain = ShowPrompt(u"{}", IDNO);
    const PromptView view = ShowPrompt(u"{\"info\":{\"style\":\"hold\",\"text\":\"Remind me later\"}}", IDNO,
                                       nullptr, {}, "prompt_hold_" + std::to_string(dpi));
    const int outerHeight = Height(view.outer);
    CHECK(outerHeight == Height(plain.outer) + row->grow);
    REQUIRE(view.hasLine);
    CHECK(view.line.top == outerHeight - row->lineFromBottom);
    CHECK(view.line.left == 0);
    CHECK(Height(view.line) == 1);
    CHECK(view.line.top >= view.yesButton.bottom + 8 * dpi / 96);
    REQUIRE(view.hasCheck);
    CHECK(view.check.top == outerHeight - row->controlFromBottom);
    CHECK(view.check.left == row->controlLeft);
    CHECK(view.check.right == view.client.right - row->controlLeft);
}

TEST_CASE("The prompt is white, centred on the screen and answers Yes only for Yes") {
    Setup setup;
    struct Case {
        WPARAM command;
        bool result;
    };
    for (const Case& c : {Case{IDYES, true}, Case{IDNO, false}, Case{IDCANCEL, false}}) {
        CAPTURE(c.command);
        bool result = !c.result;
        const PromptView view = ShowPrompt(u"{}", c.command, &result);
        CHECK(result == c.result);
        CHECK(view.background == RGB(255, 255, 255));
        const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
        CHECK(std::abs((view.outer.left + view.outer.right) - screenWidth) <= 1);
        CHECK(std::abs((view.outer.top + view.outer.bottom) - screenHeight) <= 1);
    }
    SUBCASE("closing the window counts as No") {
        bool result = true;
        SetUpdateDialogHook([](HWND prompt) { PostMessageW(prompt, WM_CLOSE, 0, 0); });
        result = UpdateDialog(u"{}");
        SetUpdateDialogHook({});
        CHECK_FALSE(result);
    }
}

TEST_CASE("Enter on the prompt is Yes, the default button; Esc and the close box are No") {
    Setup setup;
    struct Case {
        const char* what;
        std::function<void(HWND)> act;
        bool result;
    };
    auto key = [](WPARAM vk) {
        return [vk](HWND prompt) {
            HWND focus = GetFocus();
            HWND target = focus ? focus : prompt;
            PostMessageW(target, WM_KEYDOWN, vk, 1);
            PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
        };
    };
    const Case cases[] = {
        {"Enter", key(VK_RETURN), true},
        {"Enter with the hold box focused",
         [&key](HWND prompt) {
             SetFocus(GetDlgItem(prompt, kPromptHoldCheckId));
             key(VK_RETURN)(prompt);
         },
         true},
        {"Esc", key(VK_ESCAPE), false},
        {"close box", [](HWND prompt) { PostMessageW(prompt, WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        bool defaultIsYes = false;
        SetUpdateDialogHook([&](HWND prompt) {
            defaultIsYes = LOWORD(SendMessageW(prompt, DM_GETDEFID, 0, 0)) == IDYES;
            c.act(prompt);
        });
        const bool result = UpdateDialog(u"{\"info\":{\"style\":\"hold\",\"text\":\"Later\"}}");
        SetUpdateDialogHook({});
        CHECK(defaultIsYes);
        CHECK(result == c.result);
    }
}

TEST_CASE("The prompt speaks the current language: body, Yes and No, and the translated application title") {
    Setup setup;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"UpdateDialogTestForm";
    RegisterClassW(&wc);
    HWND form = CreateWindowExW(0, wc.lpszClassName, L"Tarnell", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    SetUpdateMainWindow(form);
    SetApplicationTitle(u"타르넬");  // as the main window leaves it for a Korean user

    struct Case {
        std::u16string language, title, yes, no;
    };
    const Case cases[] = {
        {u"ja", u"タルネル", u"はい", u"いいえ"},
        {u"ko", u"타르넬", u"예", u"아니오"},
        {u"de", u"Tarnell", u"Ja", u"Nein"},
        {u"pt", u"Tarnell", u"Yes", u"No"},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.language));
        SetCurrentLanguage(c.language);
        std::u16string body;
        const PromptView view = ShowPrompt(
            u"{}", IDNO, nullptr, [&](HWND prompt) { body = TextOf(GetDlgItem(prompt, kPromptTextId)); },
            "prompt_" + Utf16ToUtf8(c.language));
        CHECK(view.title == c.title);
        CHECK(view.yes == c.yes);
        CHECK(view.no == c.no);
        CHECK(body.find(u"\r\n\r\n") != std::u16string::npos);  // paragraphs shown on lines of their own
    }
    SetUpdateMainWindow(nullptr);
    SetApplicationTitle(u"Tarnell");
    DestroyWindow(form);
}

TEST_CASE("The prompt shows, on a line of its own, the host the update link goes to") {
    Setup setup;
    SetCurrentLanguage(u"en");
    struct Case {
        std::u16string answer, lastLine;
    };
    const Case cases[] = {
        {u"{\"update\":\"https:\\/\\/dl.tarnell.example\\/setup.exe\"}", u"dl.tarnell.example"},
        {u"{\"update\":\"HTTPS://Dl.Example:8443/x?y=z\"}", u"Dl.Example"},
        {u"{\"update\":\"https://\\ud55c\\uad6d.example/\"}", u"\ud55c\uad6d.example"},
        {u"{\"update\":\"https://xn--3e0b707e.example/\"}", u"xn--3e0b707e.example"},
        {u"{}", u"Do you want to download it?"},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.answer));
        std::u16string body;
        ShowPrompt(c.answer, IDNO, nullptr,
                   [&](HWND prompt) { body = TextOf(GetDlgItem(prompt, kPromptTextId)); });
        const size_t cut = body.rfind(u"\r\n");
        REQUIRE(cut != std::u16string::npos);
        CHECK(Utf16ToUtf8(body.substr(cut + 2)) == Utf16ToUtf8(c.lastLine));
    }
}

TEST_CASE("The prompt is top-most only for a flag holding stayontop in lower case") {
    Setup setup;
    struct Case {
        const char16_t* flag;
        bool topMost;
    };
    for (const Case& c : {Case{u"x stayontop y", true}, Case{u"stayontop", true}, Case{u"StayOnTop", false},
                          Case{u"", false}}) {
        CAPTURE(Utf16ToUtf8(c.flag));
        const PromptView view =
            ShowPrompt(u"{\"info\":{\"flag\":\"" + std::u16string(c.flag) + u"\"}}", IDNO);
        CHECK(view.topMost == c.topMost);
        CHECK_FALSE(view.hasLine);  // a flag alone adds no band
        // No main window here: a top-most prompt gets an icon and a taskbar entry of its own.
        CHECK(view.smallIcon == c.topMost);
        CHECK(view.owner == nullptr);
    }

    SUBCASE("with a main window shown the top-most prompt stays owned by it") {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"UpdateDialogTopForm";
        RegisterClassW(&wc);
        HWND form = CreateWindowExW(0, wc.lpszClassName, L"Tarnell", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                    300, 200, nullptr, nullptr, wc.hInstance, nullptr);
        const PromptView view = ShowPrompt(u"{\"info\":{\"flag\":\"stayontop\"}}", IDNO);
        CHECK(view.topMost);
        CHECK(view.owner == form);
        CHECK_FALSE(view.smallIcon);
        DestroyWindow(form);
    }
}

TEST_CASE("Clicking the note link opens its url while the prompt stays open") {
    Setup setup;
    std::vector<std::u16string> opened;
    SetShellOpenHook([&](const std::u16string& target) { opened.push_back(target); });
    bool stillOpen = false;
    HCURSOR cursor = nullptr;
    bool result = true;
    ShowPrompt(u"{\"info\":{\"style\":\"note\",\"text\":\"Details\",\"url\":\"https:\\/\\/n.example\\/d\"}}",
               IDNO, &result, [&](HWND prompt) {
                   HWND label = GetDlgItem(prompt, kPromptNoteLabelId);
                   SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
                   SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
                   stillOpen = IsWindow(prompt) && IsWindowVisible(prompt);
                   SendMessageW(prompt, WM_SETCURSOR, reinterpret_cast<WPARAM>(label),
                                MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
                   cursor = GetCursor();
               });
    SetShellOpenHook({});
    CHECK(opened == std::vector<std::u16string>{u"https://n.example/d"});
    CHECK(stillOpen);
    CHECK(cursor == LoadCursorW(nullptr, IDC_HAND));
    CHECK_FALSE(result);

    SUBCASE("a note url that is no web link is not opened") {
        std::vector<std::u16string> none;
        SetShellOpenHook([&](const std::u16string& target) { none.push_back(target); });
        ShowPrompt(u"{\"info\":{\"style\":\"note\",\"text\":\"x\",\"url\":\"C:\\\\Windows\\\\notepad.exe\"}}",
                   IDNO, nullptr, [](HWND prompt) {
                       HWND label = GetDlgItem(prompt, kPromptNoteLabelId);
                       SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
                       SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
                   });
        SetShellOpenHook({});
        CHECK(none.empty());
    }
}

TEST_CASE("GetFileVersionText reads the program's own version resource") {
    CHECK(GetFileVersionText() == u"1.6.5.0");
    CHECK(GetFileVersionText(u"%d.%d.%d.%d") == u"1.6.5.0");
    CHECK(GetFileVersionText(u"v%d.%d (build %d) 100%%") == u"v1.6 (build 5) 100%");
}
