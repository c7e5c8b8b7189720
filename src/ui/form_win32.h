// Win32 glue: a top-level window with a fixed client size written at 96 DPI, centred on its screen,
// that owns its controls. It scales itself and everything on it when its DPI changes.
#pragma once

#include <functional>

#include "ui/control_win32.h"

namespace tarnell {

class TForm : public TContainer {
  public:
    TForm(TComponent* owner, std::u16string name);
    ~TForm() override;

    bool IsForm() const override { return true; }

    void SetClientSize96(int width, int height);
    // Fixed border with a system menu and a minimize box, no maximize, not resizable.
    void SetFixedSingleBorder(bool fixed) { fixedSingle_ = fixed; }

    // The form's own font; used by every control that has no font of its own.
    void SetFormFont(const TFontSpec& font);
    // On: the form's font becomes the system's icon-title font for the current DPI.
    void SetDesktopFont(bool desktop);
    bool DesktopFont() const { return desktopFont_; }
    HFONT FormFont() const { return static_cast<HFONT>(font_.get()); }

    // The DPI the window's layout and fonts are made for: the monitor's, raised by the system's text size,
    // so that larger text gets a larger window instead of cut captions. Equal to MonitorDpi() at the
    // standard text size.
    int CurrentDpi() const { return layoutDpi_; }
    int MonitorDpi() const { return dpi_; }
    // How much larger than standard the system draws text, in percent (100 at least): the accessibility
    // text scale factor, and with the desktop font the icon-title font against its standard 12 pixels at
    // 96 DPI (9 points).
    int TextScalePercent() const;

    // A strip this high (at 96 DPI) across the top of the client area is kept free for the window's
    // decoration: the controls placed on the form move down by its height, and the one that reaches the
    // bottom of the client area (the client-aligned panel) keeps its bottom there and loses that height.
    void SetTopInset96(int inset);
    PixelRect PlaceChild(const Rect96& bounds, int dpi) const override;

    // Makes the hidden top-level window and every control's window, centred on the screen.
    void CreateFormHandle();
    void Show();
    void Close();

    // Keyboard. Tab and Shift+Tab move the focus through TabStops(), skipping windows that are hidden or
    // disabled, and wrap around; Ctrl+Tab and Ctrl+Shift+Tab turn the page (NextPage); the arrow keys go to
    // ArrowKey (a tab list's buttons pass them up). Controls pass those keys up to the form. Answers whether
    // the key was one of them.
    bool NavigationKey(WPARAM key);
    // Focus cues (WM_UPDATEUISTATE, UISF_HIDEFOCUS): hidden until the keyboard is used, unless the system
    // always shows them; the form answers WM_QUERYUISTATE from its own record (Wine always answers 0).
    bool FocusCuesShown() const { return !hideFocus_; }
    void SetFocusCuesShown(bool shown);
    // A control that Tab gave the focus and that gave it up because it was disabled or hidden takes it
    // back when it can again and the focus is still with the form. (The mouse never brings it back.)
    void FocusGivenUp(HWND control) {
        if (control == keyboardFocus_) focusReturn_ = control;
    }
    void FocusAvailableAgain(HWND control);
    // The window that takes the focus when `leaving` gives it up (disabled or hidden), if it is shown;
    // nullptr: the form takes it.
    virtual HWND FocusStandIn(HWND /*leaving*/) const { return nullptr; }

    // Runs when the window has been destroyed (the message loop's owner ends the program then).
    std::function<void()> OnDestroy;

    // Rebuilds fonts and positions for a DPI (WM_DPICHANGED, and tests).
    void ChangeDpi(int dpi);
    // A top-level window keeps its own place; only what is on it follows the DPI.
    void ApplyDpi() override {
        for (TControl* child : Children()) child->ApplyDpi();
    }

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    const wchar_t* ClassName() const override { return L"TarnellForm"; }
    void CaptionChanged() override;
    virtual void OnDpiChanged(int /*dpi*/) {}
    // The controls Tab visits, in reading order.
    virtual std::vector<TControl*> TabOrder() const { return {}; }
    // The windows Tab visits: TabOrder()'s, and any the window adds that are no controls of its own.
    virtual std::vector<HWND> TabStops() const;
    // Left or Up (backward), Right or Down, on the focused window `from`; answers whether it was used.
    virtual bool ArrowKey(HWND /*from*/, bool /*backward*/) { return false; }
    // Ctrl+Tab (forward) or Ctrl+Shift+Tab.
    virtual void NextPage(bool /*backward*/) {}
    // The system's colours or settings changed; everything has been invalidated.
    virtual void OnColorsChanged() {}
    // The window is being destroyed; everything on it still exists.
    virtual void FormDestroying() {}

  private:
    void RebuildFont();
    static void PlaceAgain(TContainer& container);
    SIZE OuterSizeForClient() const;
    void CentreOnScreen();
    int LayoutDpiFor(int dpi) const;
    // Takes the layout DPI for the current DPI and text size; a window that exists keeps its top-left
    // corner and takes the new size, and everything on it is placed again.
    void UpdateLayoutDpi();
    void ApplyFontToAll(TControl* control);
    void BroadcastUiState();
    void SystemColorsChanged();

    int clientWidth96_ = 0;
    int clientHeight96_ = 0;
    int topInset96_ = 0;
    bool fixedSingle_ = true;
    bool desktopFont_ = false;
    TFontSpec fontSpec_;
    ScopedGdiObject font_;
    int dpi_ = kDefaultDpi;
    int layoutDpi_ = kDefaultDpi;
    bool hideFocus_ = true;
    HWND focusReturn_ = nullptr;
    HWND keyboardFocus_ = nullptr;        // where Tab last put the focus
    HWND focusBeforeInactive_ = nullptr;  // the window's focused child when another window took over
};

}  // namespace tarnell
