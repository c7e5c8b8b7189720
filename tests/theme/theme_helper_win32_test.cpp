#include "theme/theme_helper_win32.h"

#include <commctrl.h>
#include <doctest/doctest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "win32_test_support.h"

using namespace tarnell;
using theme_test::CreateTopLevel;
using theme_test::Snapshot;

namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 1234;

std::map<UINT, int> g_procSeen;      // by the form's window procedure
std::map<UINT, int> g_subclassSeen;  // by a subclass installed before the decoration
std::map<UINT, int> g_outerSeen;     // by a subclass installed after it, which runs first
std::vector<TColor> g_colorSeenOnActivate;
int g_activateColorMismatches = 0;
TThemeHelper* g_helper = nullptr;

LRESULT CALLBACK CountingFormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ++g_procSeen[msg];
    if (msg == kProbeMessage) return kProbeAnswer;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK EarlierSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    ++g_subclassSeen[msg];
    if (msg == WM_ACTIVATE && g_helper) {
        g_colorSeenOnActivate.push_back(g_helper->LineColor());
        const TColor expected = LOWORD(wParam) == WA_INACTIVE ? clGrayText : AccentColor;
        if (g_helper->LineColor() != expected) ++g_activateColorMismatches;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK LaterSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    ++g_outerSeen[msg];
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void ResetCounts() {
    g_procSeen.clear();
    g_subclassSeen.clear();
    g_outerSeen.clear();
    g_colorSeenOnActivate.clear();
    g_activateColorMismatches = 0;
}

int CountAccentLines(HWND parent) {
    int n = 0;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (std::wstring(name) == L"TarnellAccentLine") ++n;
    }
    return n;
}

const COLORREF kAccentRgb = RGB(61, 132, 221);

COLORREF LinePixel(const TThemeHelper& helper) {
    Snapshot shot(helper.Line());
    return shot.Pixel(shot.Width() / 2, 1);
}

}  // namespace

TEST_CASE("the decoration refreshes before the previous handlers, which see every message exactly once") {
    HWND form = CreateTopLevel(L"hook chain", WS_OVERLAPPEDWINDOW, 400, 300, CountingFormProc);
    REQUIRE(form);
    REQUIRE(SetWindowSubclass(form, EarlierSubclass, 1, 0));

    auto helper = std::make_unique<TThemeHelper>(form);
    g_helper = helper.get();
    CHECK(helper->IsActive());
    CHECK(helper->LineColor() == AccentColor);
    REQUIRE(SetWindowSubclass(form, LaterSubclass, 2, 0));
    ResetCounts();

    CHECK(SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0) == 0);
    CHECK(helper->LineColor() == clGrayText);
    CHECK_FALSE(helper->IsActive());
    SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 1), 0);  // the minimized flag plays no part
    CHECK(helper->LineColor() == AccentColor);
    SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    SendMessageW(form, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    CHECK(SendMessageW(form, kProbeMessage, 0, 0) == kProbeAnswer);  // results pass through unchanged

    // The system may add messages of its own (an activation sets the focus); whatever arrived at the
    // outermost handler arrived exactly once at each earlier one.
    CHECK(g_outerSeen[WM_ACTIVATE] >= 4);
    CHECK(g_outerSeen[WM_SIZE] >= 1);
    CHECK(g_outerSeen[kProbeMessage] == 1);
    CHECK(g_subclassSeen == g_outerSeen);
    CHECK(g_procSeen == g_outerSeen);
    // When the earlier handler saw each WM_ACTIVATE, the line already had the colour that message asks.
    CHECK(g_colorSeenOnActivate.size() == size_t(g_outerSeen[WM_ACTIVATE]));
    CHECK(g_activateColorMismatches == 0);
    RemoveWindowSubclass(form, LaterSubclass, 2);

    // Destroyed, the decoration is out of the chain: the line keeps its colour, messages still arrive once.
    helper.reset();
    g_helper = nullptr;
    ResetCounts();
    HWND line = GetWindow(form, GW_CHILD);
    REQUIRE(line);
    SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    CHECK(AccentLineColor(line) == AccentColor);
    CHECK(g_procSeen[WM_ACTIVATE] == 1);
    CHECK(g_subclassSeen[WM_ACTIVATE] == 1);

    RemoveWindowSubclass(form, EarlierSubclass, 1);
    DestroyWindow(form);
}

TEST_CASE("the accent line follows real activation changes and paints its colour") {
    HWND form = CreateTopLevel(L"activation");
    REQUIRE(form);
    TThemeHelper helper(form);
    ShowWindow(form, SW_SHOW);
    SetActiveWindow(form);
    theme_test::PumpMessages();
    CHECK(helper.IsActive());
    CHECK(theme_test::Near(LinePixel(helper), kAccentRgb, 0));

    HWND other = CreateTopLevel(L"other");
    ShowWindow(other, SW_SHOW);
    SetActiveWindow(other);
    theme_test::PumpMessages();
    CHECK_FALSE(helper.IsActive());
    CHECK(helper.LineColor() == clGrayText);
    CHECK(theme_test::Near(LinePixel(helper), GetSysColor(COLOR_GRAYTEXT), 0));

    SetActiveWindow(form);  // back, as by keyboard
    theme_test::PumpMessages();
    CHECK(helper.IsActive());
    CHECK(theme_test::Near(LinePixel(helper), kAccentRgb, 0));

    DestroyWindow(other);
    DestroyWindow(form);
}

TEST_CASE("the line spans the client width, 2 pixels high at the top, at every size") {
    HWND form = CreateTopLevel(L"geometry");
    REQUIRE(form);
    TThemeHelper helper(form);
    REQUIRE(helper.Line());
    CHECK(GetParent(helper.Line()) == form);
    CHECK(helper.LineHeight() == MulDiv(2, int(GetDpiForWindow(form)), 96));

    for (SIZE size : {SIZE{400, 300}, SIZE{640, 200}, SIZE{250, 250}}) {
        SetWindowPos(form, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client{}, line{};
        GetClientRect(form, &client);
        GetWindowRect(helper.Line(), &line);
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&line), 2);
        CHECK(line.left == 0);
        CHECK(line.top == 0);
        CHECK(line.right == client.right);
        CHECK(line.bottom - line.top == helper.LineHeight());
    }
    DestroyWindow(form);
}

TEST_CASE("the line hides on a form without a border and shows again with one, at the next message") {
    HWND form = CreateTopLevel(L"borderless", WS_POPUP | WS_VISIBLE);
    REQUIRE(form);
    TThemeHelper helper(form);
    CHECK_FALSE(IsWindowVisible(helper.Line()));

    SetWindowLongPtrW(form, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU);
    CHECK_FALSE(IsWindowVisible(helper.Line()));  // nothing changes until a resize or activation change
    SendMessageW(form, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
    CHECK(IsWindowVisible(helper.Line()));

    SetWindowLongPtrW(form, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    SendMessageW(form, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    CHECK_FALSE(IsWindowVisible(helper.Line()));
    DestroyWindow(form);
}

TEST_CASE("an owner that is not a top-level window is refused and nothing is left behind") {
    HWND form = CreateTopLevel(L"parent");
    REQUIRE(form);
    HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, form, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    REQUIRE(child);
    for (HWND owner : {child, HWND(nullptr)}) {
        std::string message;
        try {
            TThemeHelper helper(owner);
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        CHECK(message == "TThemeHelper Owner must be a TForm");
    }
    CHECK(CountAccentLines(form) == 0);
    CHECK(CountAccentLines(child) == 0);
    CHECK(GetWindow(child, GW_CHILD) == nullptr);
    DestroyWindow(form);
}

TEST_CASE("a form destroyed before its decoration unhooks it; the decoration ends quietly later") {
    HWND form = CreateTopLevel(L"short-lived");
    REQUIRE(form);
    auto helper = std::make_unique<TThemeHelper>(form);
    CHECK(CountAccentLines(form) == 1);
    DestroyWindow(form);
    CHECK(helper->Form() == nullptr);
    CHECK(helper->Line() == nullptr);
    helper.reset();
}
