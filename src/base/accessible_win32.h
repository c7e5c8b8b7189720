// Win32 glue: what a screen reader hears of a window (MSAA). A window given an AccessibleInfo answers
// WM_GETOBJECT for its client area with an IAccessible of ours. What the info does not say (parent,
// children, place, navigation, hit testing) comes from the system's standard object for the window.
// The default action posts BM_CLICK to the window, so a reader's call returns before a click that might
// open a box runs.
#pragma once

#include <windows.h>
// clang-format off
#include <oleacc.h>  // ROLE_SYSTEM_*, STATE_SYSTEM_*, after <windows.h>
// clang-format on

#include <functional>
#include <string>
#include <vector>

namespace tarnell {

struct AccessibleInfo {
    long role = 0;                                  // ROLE_SYSTEM_*; 0: the standard object's
    std::function<std::u16string()> name;           // empty: the standard object's name
    std::function<std::u16string()> description;    // empty: none
    std::function<long()> state;                    // STATE_SYSTEM_* added to the window's own; empty
                                                    // with role 0: the standard object's state
    std::function<std::u16string()> defaultAction;  // empty: no default action
    bool focusable = false;
};

// Gives `hwnd` the info (once per window) until the window is destroyed (a subclass that removes itself
// then). Objects a reader still holds answer "disconnected" from that moment.
void AttachAccessible(HWND hwnd, AccessibleInfo info);

// Keeps a window that only decorates (the accent line) out of its parent's children.
void HideFromReaders(HWND hwnd);

// The child windows of `parent` a reader finds, in reading order (see above).
std::vector<HWND> ReaderChildren(HWND parent);

// Tells readers that a window's name or state changed, that it was selected, or that it took the focus.
void NotifyAccessible(DWORD event, HWND hwnd);

}  // namespace tarnell
