// The DPI a window is shown at, for scaling its 96-DPI sizes (base/dpi_scale.h), and the system's fonts
// at a DPI.
#pragma once

#include <windows.h>

namespace tarnell {

// GetDpiForWindow where the system has it (looked up once, at run time), else the screen's DPI;
// 96 when neither answers.
int WindowDpi(HWND hwnd);

// The DPI the system itself answers for (the screen's); 96 when it does not answer.
int SystemDpi();

enum class SystemFont { Message, Status, IconTitle };

// One of the system's fonts at `dpi`: SystemParametersInfoForDpi where the system has it, else the
// system's own answer with its height brought from the system's DPI to `dpi`. False when neither answers.
bool SystemFontForDpi(SystemFont which, int dpi, LOGFONTW& font);

}  // namespace tarnell
