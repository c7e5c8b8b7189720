#include "update/update_status_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "base/accessible_win32.h"
#include "base/dpi_scale.h"
#include "base/dpi_win32.h"
#include "base/error_boundary_win32.h"
#include "base/offscreen_win32.h"
#include "base/scoped_win.h"
#include "base/shell_open_win32.h"
#include "base/wide.h"
#include "translate/translation.h"
#include "update/control_hint_win32.h"
#include "update/update_check_win32.h"
#include "update/update_texts.h"

namespace tarnell {

namespace {

constexpr wchar_t kStatusBarName[] = L"StatusBar";  // the name the notice line is found by
constexpr int kStatusBarId = 0x5B01;
constexpr UINT_PTR kFormSubclassId = 0x5B02;
constexpr UINT_PTR kBarSubclassId = 0x5B03;
constexpr COLORREF kRed = RGB(255, 0, 0);

struct BarState {
    std::u16string text;
    int dpi = 96;  // the main window's DPI the line was last laid out for
    ScopedFont font;
    HWND tooltip = nullptr;
    UINT keyDown = 0;  // Space or Enter went down while the line had the focus
};

LRESULT CALLBACK BarProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
LRESULT CALLBACK FormProc(HWND form, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR);

constexpr wchar_t kStateProp[] = L"Tarnell.StatusState";

BarState* BarStateOf(HWND bar) {
    return bar ? static_cast<BarState*>(GetPropW(bar, kStateProp)) : nullptr;
}

LRESULT BarProcBody(HWND bar, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    auto* state = reinterpret_cast<BarState*>(data);
    switch (msg) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        // A link for the keyboard too, once Tab brought the focus here: Space or Enter opens it when the key
        // comes up, as the window's other links and buttons act; Tab goes up to the window.
        case WM_GETDLGCODE:
            return DLGC_BUTTON;
        case WM_KEYDOWN:
            if (wp == VK_SPACE || wp == VK_RETURN) {
                if (state) state->keyDown = UINT(wp);
                return 0;
            }
            if (wp == VK_TAB) {
                if (HWND root = GetAncestor(bar, GA_ROOT); root && root != bar)
                    return SendMessageW(root, msg, wp, lp);
            }
            break;
        case WM_KEYUP:
            if (state && state->keyDown && wp == state->keyDown) {
                state->keyDown = 0;
                TUpdateHelper::StatusClick(bar);
                return 0;
            }
            break;
        case BM_CLICK:
            // What a screen reader's default action posts.
            if (IsWindowVisible(bar) && IsWindowEnabled(bar)) TUpdateHelper::StatusClick(bar);
            return 0;
        case WM_SETFOCUS:
            InvalidateRect(bar, nullptr, TRUE);
            NotifyAccessible(EVENT_OBJECT_FOCUS, bar);
            break;
        case WM_KILLFOCUS:
            if (state) state->keyDown = 0;
            InvalidateRect(bar, nullptr, TRUE);
            break;
        case WM_UPDATEUISTATE:
            InvalidateRect(bar, nullptr, TRUE);
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(bar, BarProc, id);
            RemovePropW(bar, kStateProp);
            delete reinterpret_cast<BarState*>(data);
            break;
    }
    return DefSubclassProc(bar, msg, wp, lp);
}

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

HFONT BoldFontFor(HWND form, int dpi = 0);

LRESULT CALLBACK BarProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    return Guarded<LRESULT>(0, [&] { return BarProcBody(bar, msg, wp, lp, id, data); });
}

void PlaceBar(HWND form, HWND bar) {
    RECT client{};
    GetClientRect(form, &client);
    SetWindowPos(bar, nullptr, 0, client.bottom - kUpdateStatusHeight, client.right, kUpdateStatusHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// On the main window: keeps the line at the bottom, draws its panel and takes its clicks.
LRESULT FormProcBody(HWND form, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id) {
    switch (msg) {
        case WM_SIZE: {
            const LRESULT result = DefSubclassProc(form, msg, wp, lp);
            if (HWND bar = FindUpdateStatusBar(form)) PlaceBar(form, bar);
            return result;
        }
        case WM_DPICHANGED: {
            // The suggested rectangle scales the whole window, the line's 28 px included, but the line
            // keeps its height: take the scaled part of it back out, then rebuild its font.
            HWND bar = FindUpdateStatusBar(form);
            auto* state = bar ? static_cast<BarState*>(GetPropW(bar, kStateProp)) : nullptr;
            if (state && lp) {
                const int newDpi = LOWORD(wp);
                auto* suggested = reinterpret_cast<RECT*>(lp);
                if (state->dpi > 0 && newDpi > 0)
                    suggested->bottom -=
                        MulDivRound(kUpdateStatusHeight, newDpi, state->dpi) - kUpdateStatusHeight;
                state->dpi = newDpi;
            }
            const LRESULT result = DefSubclassProc(form, msg, wp, lp);
            if (state) {
                // The line lets go of the old font before it is freed.
                const ScopedFont old = std::move(state->font);
                state->font.reset(BoldFontFor(form, LOWORD(wp)));
                SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(state->font.get()), TRUE);
                PlaceBar(form, bar);
            }
            return result;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (item->hwndItem && item->hwndItem == FindUpdateStatusBar(form)) {
                // Drawn off screen first, so the line never flickers.
                if (OffscreenBuffer memory(item->hDC, item->rcItem); memory) {
                    TUpdateHelper::DrawUpdateStatus(item->hwndItem, memory.Dc(), memory.Local());
                    memory.Present();
                }
                return TRUE;
            }
            break;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lp);
            if (header->code == NM_CLICK && header->hwndFrom == FindUpdateStatusBar(form)) {
                TUpdateHelper::StatusClick(header->hwndFrom);
                return TRUE;
            }
            break;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(form, FormProc, id);
            break;
    }
    return DefSubclassProc(form, msg, wp, lp);
}

LRESULT CALLBACK FormProc(HWND form, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    return Guarded<LRESULT>(0, [&] { return FormProcBody(form, msg, wp, lp, id); });
}

// The form's font in bold; without one, the system's status font at `dpi` (0: the system's own).
HFONT BoldFontFor(HWND form, int dpi) {
    LOGFONTW font{};
    HFONT formFont = reinterpret_cast<HFONT>(SendMessageW(form, WM_GETFONT, 0, 0));
    if (!formFont || !GetObjectW(formFont, sizeof font, &font))
        SystemFontForDpi(SystemFont::Status, dpi, font);
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&font);
}

HWND CreateUpdateStatusBar(HWND form) {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
    RECT client{};
    GetClientRect(form, &client);
    HWND bar = CreateWindowExW(
        0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | CCS_NORESIZE | CCS_NOPARENTALIGN, 0,
        client.bottom, client.right, kUpdateStatusHeight, form,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)), GetModuleHandleW(nullptr), nullptr);
    if (!bar) return nullptr;
    auto* state = new BarState;
    state->dpi = WindowDpi(form);
    state->font.reset(BoldFontFor(form, state->dpi));
    SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(state->font.get()), FALSE);
    SetPropW(bar, kStateProp, state);
    SetWindowSubclass(bar, BarProc, kBarSubclassId, reinterpret_cast<DWORD_PTR>(state));
    SetPropW(bar, kStatusBarName, reinterpret_cast<HANDLE>(1));
    int edges[] = {-1};
    SendMessageW(bar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(edges));
    // Last in the window's reading order, as it is at the bottom of the window.
    SetWindowPos(bar, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // A screen reader hears a link named by its text, which the owner draws.
    AccessibleInfo info;
    info.role = ROLE_SYSTEM_LINK;
    info.focusable = true;
    info.name = [bar] { return UpdateStatusText(bar); };
    info.state = [] { return long(STATE_SYSTEM_LINKED); };
    info.defaultAction = [] { return GetUpdateLinkAction(CurrentLanguage()); };
    AttachAccessible(bar, std::move(info));

    state->tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
    if (state->tooltip) {
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = form;
        tool.uId = reinterpret_cast<UINT_PTR>(bar);
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(state->tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }

    // The window grows by the line's height once; everything else keeps its size and place. A
    // minimised or maximised window grows in its restored placement, so it comes back taller.
    SetWindowSubclass(form, FormProc, kFormSubclassId, 0);
    WINDOWPLACEMENT placement{sizeof placement};
    if ((IsIconic(form) || IsZoomed(form)) && GetWindowPlacement(form, &placement)) {
        placement.rcNormalPosition.bottom += kUpdateStatusHeight;
        if (IsIconic(form)) placement.showCmd = SW_SHOWMINNOACTIVE;
        SetWindowPlacement(form, &placement);
    } else {
        RECT window{};
        GetWindowRect(form, &window);
        SetWindowPos(form, nullptr, 0, 0, window.right - window.left,
                     window.bottom - window.top + kUpdateStatusHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    PlaceBar(form, bar);
    return bar;
}

}  // namespace

HWND FindUpdateStatusBar(HWND form) {
    if (!form) return nullptr;
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetPropW(child, kStatusBarName)) return child;
    }
    return nullptr;
}

std::u16string UpdateStatusText(HWND bar) {
    const BarState* state = BarStateOf(bar);
    return state ? state->text : std::u16string();
}

std::u16string UpdateStatusHint(HWND bar) {
    return GetControlHint(bar);
}

void ShowUpdateStatus(HWND form, const std::u16string& text, const std::u16string& hint) {
    if (!form || !IsWindow(form)) return;
    HWND bar = FindUpdateStatusBar(form);
    const bool created = !bar;
    if (!bar) bar = CreateUpdateStatusBar(form);
    BarState* state = BarStateOf(bar);
    if (!state) return;
    const bool changed = created || state->text != text;
    state->text = text;
    SetControlHint(bar, hint);
    if (state->tooltip) {
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = form;
        tool.uId = reinterpret_cast<UINT_PTR>(bar);
        tool.lpszText = const_cast<wchar_t*>(W(hint));
        SendMessageW(state->tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    SendMessageW(bar, SB_SETTEXTW, 0 | SBT_OWNERDRAW, reinterpret_cast<LPARAM>(state));
    InvalidateRect(bar, nullptr, TRUE);
    // The line appears without the focus: readers are told it is there, what it says, and as an alert,
    // which they speak wherever the focus is.
    if (created) NotifyAccessible(EVENT_OBJECT_SHOW, bar);
    if (changed) {
        NotifyAccessible(EVENT_OBJECT_NAMECHANGE, bar);
        NotifyAccessible(EVENT_SYSTEM_ALERT, bar);
    }
}

void TUpdateHelper::DrawUpdateStatus(HWND statusBar, HDC dc, const RECT& rect) {
    FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
    const BarState* state = BarStateOf(statusBar);
    if (!state) return;
    ScopedSelect selectFont(dc, state->font.get());
    SetTextColor(dc, kRed);
    SetBkMode(dc, TRANSPARENT);
    RECT r = rect;
    DrawTextW(dc, W(state->text), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
    // The keyboard focus, once the keyboard was used (the window keeps that record): a 2 px ring in the
    // button text colour, which the system keeps readable on the bar's face colour.
    HWND root = GetAncestor(statusBar, GA_ROOT);
    if (GetFocus() == statusBar && !(SendMessageW(root, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        const int width = std::max(1, MulDivRound(2, WindowDpi(statusBar), 96));
        HBRUSH ring = GetSysColorBrush(COLOR_BTNTEXT);
        RECT edge = rect;
        for (int i = 0; i < width; ++i) {
            FrameRect(dc, &edge, ring);
            InflateRect(&edge, -1, -1);
        }
    }
}

void TUpdateHelper::StatusClick(HWND sender) {
    wchar_t cls[32] = {};
    GetClassNameW(sender, cls, 32);
    if (lstrcmpiW(cls, STATUSCLASSNAMEW) != 0) return;
    ShellOpen(GetControlHint(sender));
}

}  // namespace tarnell
