// Test support, Win32: the dialog boxes a process shows (the error boxes, the update prompt), found and
// read from any thread or process. A box exists, and is even visible, before its buttons are made, so it
// is read once its buttons are there.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "wait_win32.h"

namespace tarnell::test {

// A window's text through WM_GETTEXT, from any process; empty when it does not answer within 5 s.
inline std::wstring WindowTextOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return buffer;
}

// The visible dialog boxes (class #32770) of process `pid`, top of the z-order first.
inline std::vector<HWND> VisibleBoxes(DWORD pid) {
    std::pair<DWORD, std::vector<HWND>> search{pid, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(lp);
            wchar_t cls[16] = {};
            GetClassNameW(hwnd, cls, 16);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->first && std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd))
                s->second.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// The first box `pid` shows within `timeoutMs`, or nullptr.
inline HWND WaitForBox(DWORD pid, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            const std::vector<HWND> boxes = VisibleBoxes(pid);
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        timeoutMs, 50);
    return box;
}

struct BoxContent {
    std::wstring title;
    std::vector<std::wstring> buttons;  // the visible buttons' captions, in z-order
    std::wstring texts;                 // every child's text, one a line
};

// What `box` shows, once it shows a button (at most `timeoutMs` later; no buttons then).
inline BoxContent ReadBox(HWND box, DWORD timeoutMs = 10000) {
    BoxContent content;
    WaitUntil(
        [&] {
            content = BoxContent{WindowTextOf(box), {}, {}};
            EnumChildWindows(
                box,
                [](HWND child, LPARAM lp) -> BOOL {
                    auto* c = reinterpret_cast<BoxContent*>(lp);
                    wchar_t cls[16] = {};
                    GetClassNameW(child, cls, 16);
                    const std::wstring text = WindowTextOf(child);
                    if (std::wstring(cls) == L"Button" && IsWindowVisible(child)) c->buttons.push_back(text);
                    c->texts += text + L"\n";
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&content));
            return !content.buttons.empty();
        },
        timeoutMs, 50);
    return content;
}

}  // namespace tarnell::test
