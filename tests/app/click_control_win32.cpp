// A helper for screenshots and manual checks: clicks one control of the running program's main window,
// found by its name in the form description.  Usage: click_control.exe BtnConfig
#include <windows.h>

#include <string>

#include "../support/window_search_win32.h"
#include "app/main_layout.h"
#include "base/wide.h"

using namespace tarnell;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::u16string name = FromWide(argv[1]);
    if (!FindControlDesc(name.c_str())) return 2;
    HWND control = outside::FindControl(FindWindowW(L"TarnellForm", nullptr), name.c_str());
    if (!control) return 1;
    outside::PostClick(control);
    return 0;
}
