// Win32 glue shared by the theme's controls: colour resolution, DPI, GDI+ start-up, font variants,
// class registration.
#pragma once

#include <windows.h>

#include <string>

#include "base/dpi_scale.h"
#include "base/dpi_win32.h"
#include "theme/button_styles.h"
#include "theme/color.h"

namespace tarnell {

// The colour as a COLORREF: system colours resolved with GetSysColor now, markers as black.
COLORREF ToColorRef(TColor color);
// The resolver LightenByPercent uses on Windows.
TColor Win32SystemColor(int index);

// Starts GDI+ once per process, on first use; it stays up until the process ends. False when it cannot.
bool EnsureGdiplus();

// A font like base (or like the GUI font when base is null) with the given style bits.
HFONT CreateStyledFont(HFONT base, TFontStyles style);
LOGFONTW FontInfo(HFONT font);

// Registers a control window class of this module once; true when it is (or already was) registered.
bool RegisterControlClass(const wchar_t* className, WNDPROC proc, UINT style = 0);
// The object a control window of class `className` keeps in GWLP_USERDATA; nullptr for any other window.
void* ControlFromHandle(HWND hwnd, const wchar_t* className);

}  // namespace tarnell
