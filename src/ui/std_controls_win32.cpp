#include "ui/std_controls_win32.h"

#include <commctrl.h>

#include "base/accessible_win32.h"
#include "base/wide.h"

namespace tarnell {

namespace {

// The check box handles Space itself; Tab and Ctrl+Tab go up to the form, which moves the focus.
LRESULT CALLBACK PassNavigationKeys(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR) {
    if (msg == WM_KEYDOWN && wParam == VK_TAB) {
        if (HWND root = GetAncestor(hwnd, GA_ROOT); root && root != hwnd)
            return SendMessageW(root, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, PassNavigationKeys, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace

HWND TLabel::MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) {
    // A label is one line that is cut at its right edge; SS_LEFT would break it at a space and show only
    // the words that fit ("IP:" of "IP: 192.168.100.200").
    const DWORD align = centered_ ? SS_CENTER : SS_LEFTNOWORDWRAP;
    return CreateWindowExW(0, L"STATIC", W(Caption()), WS_CHILD | SS_NOPREFIX | align | visibleFlag,
                           rect.left, rect.top, rect.width, rect.height, parentHwnd, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

HWND TCheckBox::MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) {
    HWND hwnd = CreateWindowExW(0, L"BUTTON", W(Caption()), WS_CHILD | BS_AUTOCHECKBOX | visibleFlag,
                                rect.left, rect.top, rect.width, rect.height, parentHwnd, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (hwnd) {
        SendMessageW(hwnd, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
        SetWindowSubclass(hwnd, PassNavigationKeys, 1, 0);
    }
    return hwnd;
}

void TCheckBox::SetChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    if (Hwnd()) {
        SendMessageW(Hwnd(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        NotifyAccessible(EVENT_OBJECT_STATECHANGE, Hwnd());
    }
    Click();
}

void TCheckBox::OnReflectCommand(WORD code) {
    if (code != BN_CLICKED || !Hwnd()) return;
    const bool now = SendMessageW(Hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (now == checked_) return;
    checked_ = now;
    NotifyAccessible(EVENT_OBJECT_STATECHANGE, Hwnd());
    Click();
}

}  // namespace tarnell
