// Win32 glue: the one window base class of the control layer. `this` travels in lpCreateParams and is
// stored at WM_NCCREATE; every message goes through HandleMessage, a switch that calls OnXxx methods;
// the stored pointer is cleared at WM_NCDESTROY. Errors that escape a handler stop at this boundary
// and go to the application's unhandled-error handler.
#pragma once

#include <windows.h>

#include "base/error_boundary_win32.h"

namespace tarnell {

class TWindow {
  public:
    TWindow() = default;
    virtual ~TWindow();
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;

    HWND Handle() const { return hwnd_; }

    // The TWindow behind a handle made by this class, or nullptr.
    static TWindow* FromHandle(HWND hwnd);

  protected:
    // Registers (once) and creates a window of the given class, bound to this object.
    bool CreateBound(const wchar_t* className, DWORD exStyle, DWORD style, const wchar_t* title, int x, int y,
                     int width, int height, HWND parent, HMENU idOrMenu, UINT classStyle = CS_DBLCLKS,
                     HCURSOR cursor = nullptr);
    void DestroyHandle();

    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }

    // Called right before the handle stops being valid.
    virtual void OnHandleDestroyed() {}

  private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};

}  // namespace tarnell
