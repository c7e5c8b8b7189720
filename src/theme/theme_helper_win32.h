// The main window's decoration: a dark title bar request and a 2-pixel accent line across the top of the
// client area that shows AccentColor while the window is active and the system's grayed-text colour
// while it is not.
//
// The line is a child window of the form (class "TarnellAccentLine"), top-aligned, as wide as the client
// area and 2 pixels (at 96 DPI) high; content laid out below it should start LineHeight() pixels down.
// The helper watches the form through a window subclass: on WM_SIZE and WM_ACTIVATE it refreshes the
// line first, then passes every message, unchanged, to the form's previous handler. Destroying the
// helper removes the subclass; the line stays with the form, like every other child window.
#pragma once

#include <windows.h>

#include "theme/color.h"

namespace tarnell {

class TThemeHelper {
  public:
    // Throws std::runtime_error("TThemeHelper Owner must be a TForm") when form is not a top-level
    // window; nothing has been created or changed then.
    explicit TThemeHelper(HWND form);
    ~TThemeHelper();
    TThemeHelper(const TThemeHelper&) = delete;
    TThemeHelper& operator=(const TThemeHelper&) = delete;

    HWND Form() const { return FForm; }
    HWND Line() const { return FShape; }
    bool IsActive() const { return FIsActive; }
    // The line's colour as set; a system colour stays a system colour and is resolved when painted.
    TColor LineColor() const;
    int LineHeight() const;

    static constexpr int kLineHeight96 = 2;

  private:
    static LRESULT CALLBACK FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR self);
    static LRESULT FormProcBody(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                DWORD_PTR self);
    void UpdateShape();
    void AlignLine();

    HWND FForm = nullptr;
    TColor FActiveColor = AccentColor;
    bool FIsActive = true;
    HWND FShape = nullptr;
    UINT FDpi = 96;  // the form's DPI, followed through WM_DPICHANGED
};

// The line's colour as stored in a "TarnellAccentLine" window.
TColor AccentLineColor(HWND line);

// Best effort: asks the desktop window manager for a dark title bar (attribute 20, value -1); the answer
// is ignored, and nothing happens where dwmapi.dll or the function is missing.
void RequestDarkTitleBar(HWND hwnd);

}  // namespace tarnell
