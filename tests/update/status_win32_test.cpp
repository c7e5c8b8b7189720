// The notice line on a main window under Wine: one bar, the window grows once, bold red centred text,
// a click opens the latest link.
// clang-format off
#include <windows.h>  // before <commctrl.h>
#include <commctrl.h>
// clang-format on
#include <doctest/doctest.h>

#include <algorithm>

#include "base/shell_open_win32.h"
#include "fixture_win32.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"
#include "update/update_status_win32.h"

using namespace tarnell;
using namespace tarnell::test;

namespace {

// The notice line's height in pixels, at every DPI.
constexpr int kLineHeight = 28;

HWND CreateForm() {
    static bool once = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = L"UpdateStatusTestForm";
        RegisterClassW(&wc);
        return true;
    }();
    (void)once;
    HWND form = CreateWindowExW(0, L"UpdateStatusTestForm", L"Tarnell",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 420, 300,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CreateWindowExW(0, L"BUTTON", L"Content", WS_CHILD | WS_VISIBLE, 20, 200, 120, 30, form, nullptr,
                    GetModuleHandleW(nullptr), nullptr);
    return form;
}

RECT ClientRectOf(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int Height(const RECT& r) {
    return r.bottom - r.top;
}

void Click(HWND bar) {
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 10));
    SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(30, 10));
}

}  // namespace

TEST_CASE("Two notices: one bar, the window grew once, text and link of the second call") {
    HWND form = CreateForm();
    HWND content = GetWindow(form, GW_CHILD);
    RECT window0{}, client0{};
    GetWindowRect(form, &window0);
    GetClientRect(form, &client0);
    const RECT content0 = ClientRectOf(form, content);
    CHECK_FALSE(FindUpdateStatusBar(form));

    ShowUpdateStatus(form, u"Update available", u"https://news.example/first");
    ShowUpdateStatus(form, u"Update möglich", u"https://news.example/second");

    int bars = 0;
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        bars += lstrcmpiW(cls, STATUSCLASSNAMEW) == 0;
    }
    CHECK(bars == 1);
    HWND bar = FindUpdateStatusBar(form);
    REQUIRE(bar);
    RECT window1{}, client1{};
    GetWindowRect(form, &window1);
    GetClientRect(form, &client1);
    CHECK(Height(window1) == Height(window0) + kLineHeight);
    CHECK(client1.bottom == client0.bottom + kLineHeight);
    CHECK(window1.left == window0.left);
    CHECK(window1.top == window0.top);
    const RECT barRect = ClientRectOf(form, bar);
    CHECK(barRect.top == client0.bottom);
    CHECK(Height(barRect) == kLineHeight);
    CHECK(barRect.left == 0);
    CHECK(barRect.right == client1.right);
    const RECT content1 = ClientRectOf(form, content);
    CHECK(EqualRect(&content0, &content1));

    CHECK(UpdateStatusText(bar) == u"Update möglich");
    CHECK(UpdateStatusHint(bar) == u"https://news.example/second");

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0)), sizeof font, &font);
    CHECK(font.lfWeight >= FW_BOLD);

    std::vector<std::u16string> opened;
    SetShellOpenHook([&](const std::u16string& target) { opened.push_back(target); });
    Click(bar);
    SetShellOpenHook({});
    CHECK(opened == std::vector<std::u16string>{u"https://news.example/second"});

    SaveWindowShot(form, ShotFolder(), "notice_line");
    DestroyWindow(form);
}

TEST_CASE("The notice is drawn in red, centred in the bar") {
    HWND form = CreateForm();
    ShowUpdateStatus(form, u"Update available", u"https://news.example/");
    HWND bar = FindUpdateStatusBar(form);
    REQUIRE(bar);
    const Pixels pixels = CaptureClient(bar);
    int left = pixels.width, right = -1, top = pixels.height, bottom = -1, red = 0, face = 0;
    for (int y = 0; y < pixels.height; ++y) {
        for (int x = 0; x < pixels.width; ++x) {
            const COLORREF c = pixels.At(x, y);
            if (c == RGB(255, 0, 0)) {
                ++red;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            } else if (c == GetSysColor(COLOR_BTNFACE)) {
                ++face;
            }
        }
    }
    REQUIRE(red > 20);
    CHECK(std::abs((left + right) - pixels.width) <= 4);
    CHECK(std::abs((top + bottom) - pixels.height) <= 4);
    CHECK(face > pixels.width * pixels.height / 2);  // the panel is filled with the bar's own colour
    DestroyWindow(form);
}

TEST_CASE("A notice link that is no web link is never opened, and no window means no notice") {
    HWND form = CreateForm();
    ShowUpdateStatus(form, u"Update available", u"file:///C:/Windows/System32/calc.exe");
    std::vector<std::u16string> opened;
    SetShellOpenHook([&](const std::u16string& target) { opened.push_back(target); });
    Click(FindUpdateStatusBar(form));
    SetShellOpenHook({});
    CHECK(opened.empty());
    DestroyWindow(form);

    ShowUpdateStatus(nullptr, u"Update available",
                     u"https://news.example/");  // nothing happens, nothing fails
}

TEST_CASE("ShellOpen hands only absolute web links to the shell") {
    std::vector<std::u16string> opened;
    SetShellOpenHook([&](const std::u16string& target) { opened.push_back(target); });
    for (const char16_t* target : {u"https://a.example/", u"C:\\Windows\\notepad.exe", u"\\\\server\\share",
                                   u"file:///C:/x", u"http://b.example/x?y=1", u"mailto:a@b", u""})
        ShellOpen(target);
    SetShellOpenHook({});
    CHECK(opened == std::vector<std::u16string>{u"https://a.example/", u"http://b.example/x?y=1"});
}

namespace {

// A main window that takes the rectangle a DPI change suggests, as the program's window does.
LRESULT CALLBACK DpiAwareFormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == 0x02E0 /* WM_DPICHANGED */) {
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Sends the DPI change from `from` to `to` with the rectangle the system suggests: the window scaled.
void ChangeDpi(HWND form, int from, int to) {
    RECT r{};
    GetWindowRect(form, &r);
    RECT suggested{r.left, r.top, r.left + MulDiv(r.right - r.left, to, from),
                   r.top + MulDiv(r.bottom - r.top, to, from)};
    SendMessageW(form, 0x02E0, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
}

}  // namespace

TEST_CASE("The notice line grows the window by its height once, in every window state and across DPIs") {
    static bool once = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DpiAwareFormProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"UpdateStatusDpiForm";
        RegisterClassW(&wc);
        return true;
    }();
    (void)once;
    struct Case {
        const char* what;
        bool minimised;
        int from, to;  // a DPI change after the line is shown; 0 for none
    };
    const Case cases[] = {
        {"normal", false, 0, 0},
        {"minimised, then restored", true, 0, 0},
        {"96 to 144", false, 96, 144},
        {"144 to 96", false, 144, 96},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        HWND form = CreateWindowExW(0, L"UpdateStatusDpiForm", L"Tarnell",
                                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE,
                                    100, 100, 420, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(form);
        RECT window0{};
        GetWindowRect(form, &window0);
        if (c.minimised) ShowWindow(form, SW_MINIMIZE);
        ShowUpdateStatus(form, u"Update available", u"https://news.example/n");
        if (c.minimised) ShowWindow(form, SW_RESTORE);
        // Without the line, the window would now be this tall: the same, or scaled by the DPI change.
        int expected = Height(window0);
        if (c.from && c.from != 96) {
            // The window reaches the higher DPI with the line already on it, then comes back.
            ChangeDpi(form, 96, c.from);
            expected = MulDiv(expected, c.from, 96);
        }
        if (c.from) {
            ChangeDpi(form, c.from, c.to);
            expected = MulDiv(expected, c.to, c.from);
        }
        RECT window{}, client{};
        GetWindowRect(form, &window);
        GetClientRect(form, &client);
        CHECK(Height(window) == expected + kLineHeight);
        HWND bar = FindUpdateStatusBar(form);
        REQUIRE(bar);
        const RECT barRect = ClientRectOf(form, bar);
        CHECK(Height(barRect) == kLineHeight);
        CHECK(barRect.bottom == client.bottom);
        DestroyWindow(form);
    }
}
