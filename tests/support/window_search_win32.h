// Test support, Win32: finding and clicking the running program's windows from another process, shared
// by the end-to-end drivers, the screenshot helper and the run-switch benchmark. Controls are found by
// their name in the form description (their window id is derived from it).
#pragma once

#include <windows.h>

#include <string>

#include "app/main_layout.h"

namespace tarnell::outside {

inline std::wstring ClassOf(HWND hwnd) {
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    return cls;
}

// A top-level window of process `pid` with class `cls`, or nullptr.
inline HWND FindTopLevel(DWORD pid, const wchar_t* cls) {
    struct Search {
        DWORD pid;
        const wchar_t* cls;
        HWND found;
    } search{pid, cls, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->pid && ClassOf(hwnd) == s->cls) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The main window of process `pid`.
inline HWND FindForm(DWORD pid) {
    return FindTopLevel(pid, L"TarnellForm");
}

// The control of `form` named `name` in the form description, or nullptr.
inline HWND FindControl(HWND form, const char16_t* name) {
    const ControlDesc* d = FindControlDesc(name);
    if (!d || !form) return nullptr;
    struct Search {
        int id;
        HWND found;
    } search{ControlIdOf(*d), nullptr};
    EnumChildWindows(
        form,
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            if (GetDlgCtrlID(hwnd) != s->id) return TRUE;
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A click as the mouse makes it: over, down, up in the middle of the control, then away, so the hot look
// does not stay on a button.
inline void PostClick(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
    PostMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
}

}  // namespace tarnell::outside
