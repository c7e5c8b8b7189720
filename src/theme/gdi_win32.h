// Win32 glue shared by the theme's controls: colour resolution, DPI, GDI+ start-up, font variants,
// class registration.
#pragma once

#include <windows.h>

#include <string>

#include "base/dpi_scale.h"
#include "base/dpi_win32.h"
#include "base/error_boundary_win32.h"
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

// The keyboard focus ring of a square-cornered control (see palette.h) round the edge of `rect`, in
// `color`; answers the rectangle left inside the ring and its gap, where the control draws itself.
RECT DrawFocusRing(HDC dc, const RECT& rect, int dpi, TColor color);

// Registers a control window class of this module once; true when it is (or already was) registered.
bool RegisterControlClass(const wchar_t* className, WNDPROC proc, UINT style = 0);
// The object a control window of class `className` keeps in GWLP_USERDATA; nullptr for any other window.
void* ControlFromHandle(HWND hwnd, const wchar_t* className);

// The window procedure of a control class whose object lives in GWLP_USERDATA: made at WM_NCCREATE from the
// Config the creator passed in lpCreateParams (a default one without), handed every message after that,
// freed at WM_NCDESTROY; all behind the error boundary. The control class befriends its instantiation.
template <typename T, typename Config>
struct ControlWindow {
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        return Guarded<LRESULT>(0, [&] { return Dispatch(hwnd, msg, wParam, lParam); });
    }

  private:
    static LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            const auto* config = static_cast<const Config*>(cs->lpCreateParams);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(new T(hwnd, config ? *config : Config{})));
        }
        auto* control = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!control) return DefWindowProcW(hwnd, msg, wParam, lParam);
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            delete control;
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
        return control->HandleMessage(msg, wParam, lParam);
    }
};

}  // namespace tarnell
