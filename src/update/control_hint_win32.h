// A control's hint: the text a click handler finds its target in (a link), kept with the window itself
// and freed with it.
#pragma once

#include <windows.h>

#include <string>

namespace tarnell {

void SetControlHint(HWND control, const std::u16string& hint);
std::u16string GetControlHint(HWND control);

}  // namespace tarnell
