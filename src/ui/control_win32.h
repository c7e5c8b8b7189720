// Win32 glue: the visible controls. A TControl is a component with a parent container, a rectangle
// written at 96 DPI, visibility, an enabled state, a font (the form's or its own) and a click event.
// TContainer is a control of our own window class that holds child controls, paints its colour and
// hands the notifications of standard child controls back to the control that sent them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/dpi_scale.h"
#include "base/dpi_win32.h"
#include "base/scoped_win.h"
#include "ui/component.h"
#include "ui/window_win32.h"

namespace tarnell {

class TContainer;
class TForm;

// A font written at 96 DPI: a negative height is a character height in pixels, as in LOGFONT.
struct TFontSpec {
    std::u16string face = u"Segoe UI";
    int height96 = -12;
    bool bold = false;
    bool underline = false;
    bool antialiased = false;
};

// A font made for one DPI; frees itself.
ScopedGdiObject CreateFontForDpi(const TFontSpec& desc, int dpi);

class TControl : public TComponent {
  public:
    using ClickHandler = std::function<void(TComponent* sender)>;

    TControl(TComponent* owner, std::u16string name);
    ~TControl() override;

    // Places this control in `parent` (after the ones placed before); a handle is made when the
    // parent's is.
    void SetParent(TContainer* parent);
    TContainer* Parent() const { return parent_; }
    TForm* Form() const;

    const Rect96& Bounds96() const { return bounds96_; }
    void SetBounds96(const Rect96& bounds);
    // The rectangle in pixels at the current DPI, relative to the parent's client area.
    PixelRect BoundsPixels() const;

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    // A control takes the form's font unless it was given its own.
    void SetOwnFont(const TFontSpec& font);
    bool HasOwnFont() const { return ownFont_; }
    const TFontSpec& OwnFont() const { return fontSpec_; }
    HFONT CurrentFont() const;

    void SetCursor(HCURSOR cursor) { cursor_ = cursor; }

    // The window's control identifier, so tools outside the program can find it (0: none).
    void SetControlId(int id) { controlId_ = id; }
    int ControlId() const { return controlId_; }

    ClickHandler OnClick;

    HWND Hwnd() const { return hwnd_; }
    int Dpi() const;
    bool HandleAllocated() const { return hwnd_ != nullptr; }

    // Makes the window handle below `parentHwnd` (and those of any children).
    void CreateHandle(HWND parentHwnd);
    // Positions, fonts and scaled sizes for the current DPI; containers pass it on to their children.
    virtual void ApplyDpi();
    // The control of a standard child window, found from its handle.
    static TControl* FromHwnd(HWND hwnd);

    // Notifications of standard child windows, handed back by their container.
    virtual void OnReflectCommand(WORD /*code*/) {}
    virtual bool OnReflectDrawItem(const DRAWITEMSTRUCT& /*item*/) { return false; }
    // Background of standard child windows; our controls sit on white.
    virtual HBRUSH OnCtlColor(HDC dc);

  protected:
    // Makes the window for this control and answers it; the parent's handle is given.
    virtual HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) = 0;
    virtual void AfterHandleCreated() {}
    void RefreshFont();
    void CaptionChanged() override;
    void Click() {
        if (OnClick) OnClick(this);
    }
    HCURSOR Cursor() const { return cursor_; }
    void ForgetHandle() { hwnd_ = nullptr; }

  private:
    friend class TContainer;
    TContainer* parent_ = nullptr;
    Rect96 bounds96_;
    bool visible_ = true;
    bool enabled_ = true;
    bool ownFont_ = false;
    TFontSpec fontSpec_;
    ScopedGdiObject font_;
    int fontDpi_ = 0;
    HCURSOR cursor_ = nullptr;
    int controlId_ = 0;
    HWND hwnd_ = nullptr;
};

// A control drawn by a window class of our own.
class TCustomControl : public TControl, public TWindow {
  public:
    using TControl::TControl;

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Paints the whole client area into `dc` (an off-screen bitmap the size of the client area).
    virtual void Paint(HDC dc, const RECT& client);
    virtual const wchar_t* ClassName() const { return L"TarnellControl"; }
    virtual DWORD ExtraStyle() const { return 0; }
    void OnHandleDestroyed() override;
    // The control has the focus and the window shows focus cues (the keyboard was used).
    bool FocusCueShown() const;

  private:
    bool hideFocus_ = true;
};

// A control that holds others: panels, cards, group boxes, the form.
class TContainer : public TCustomControl {
  public:
    using TCustomControl::TCustomControl;
    // The owner frees the children after the container's own parts are gone: they must not call back.
    ~TContainer() override;

    const std::vector<TControl*>& Children() const { return children_; }
    void AddChild(TControl* child);
    void RemoveChild(TControl* child);

    COLORREF Color() const { return color_; }
    void SetColor(COLORREF color);
    // The colour painted: the control's own, or the system's window colour in high contrast.
    COLORREF PaintColor() const;
    HBRUSH BackgroundBrush();

    void ApplyDpi() override;
    void CreateChildHandles();

    // Where a child with these bounds (at 96 DPI) lies in this container at `dpi`, in pixels.
    virtual PixelRect PlaceChild(const Rect96& bounds, int dpi) const { return ScaleRect(bounds, dpi); }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Paint(HDC dc, const RECT& client) override;
    const wchar_t* ClassName() const override { return L"TarnellContainer"; }
    DWORD ExtraStyle() const override { return WS_CLIPCHILDREN; }
    void AfterHandleCreated() override { CreateChildHandles(); }

  private:
    std::vector<TControl*> children_;
    COLORREF color_ = RGB(255, 255, 255);
    ScopedGdiObject brush_;
    COLORREF brushColor_ = 0;
};

}  // namespace tarnell
