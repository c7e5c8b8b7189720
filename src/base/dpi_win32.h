// The DPI a window is shown at, for scaling its 96-DPI sizes (base/dpi_scale.h).
#pragma once

#include <windows.h>

namespace tarnell {

// GetDpiForWindow where the system has it (looked up once, at run time), else the screen's DPI;
// 96 when neither answers.
int WindowDpi(HWND hwnd);

}  // namespace tarnell
