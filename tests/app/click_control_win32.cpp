// A helper for screenshots and manual checks: clicks one control of the running program's main window,
// found by its name in the form description.  Usage: click_control.exe BtnConfig
#include <windows.h>

#include <string>

#include "app/main_layout.h"
#include "base/wide.h"

using namespace tarnell;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::u16string name = FromWide(argv[1]);
    const ControlDesc* d = FindControlDesc(name.c_str());
    if (!d) return 2;
    HWND form = FindWindowW(L"TarnellForm", nullptr);
    if (!form) return 1;
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
    if (!search.found) return 1;
    RECT r;
    GetClientRect(search.found, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(search.found, WM_MOUSEMOVE, 0, at);
    PostMessageW(search.found, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(search.found, WM_LBUTTONUP, 0, at);
    // Move the pointer away so the hot look does not stay on the button.
    PostMessageW(search.found, WM_MOUSELEAVE, 0, 0);
    return 0;
}
