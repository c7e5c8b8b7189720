// Win32 glue: the styled buttons of the style family, hosted as controls: the speed button (the run
// switch) and the toolbar with its toggle buttons (the header). A click never gives them the keyboard
// focus; Tab does.
#pragma once

#include <string>

#include "ui/control_win32.h"

namespace tarnell {

class StyledButton;

class TStyledSpeedButton : public TControl {
  public:
    using TControl::TControl;

    void SetStyle(const std::u16string& family, const std::u16string& appearance, int radius96);
    bool Down() const { return down_; }
    // Down puts the other buttons of the same group up (toolbar buttons share one group).
    void SetDown(bool down);
    StyledButton* Button() const;

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;
    void CaptionChanged() override;
    void AfterHandleCreated() override;
    virtual bool Flat() const { return false; }
    virtual int GroupIndex() const { return 0; }

  private:
    std::u16string family_ = u"Vorbeck";
    std::u16string appearance_ = u"Normal";
    int radius96_ = 6;
    bool down_ = false;
};

// A toolbar button: flat, and one toggle group with its siblings.
class TStyledToolButton : public TStyledSpeedButton {
  public:
    using TStyledSpeedButton::TStyledSpeedButton;
    static constexpr int kToolbarGroup = 1;

  protected:
    bool Flat() const override { return true; }
    int GroupIndex() const override { return kToolbarGroup; }
};

class TStyledToolbar : public TContainer {
  public:
    TStyledToolbar(TComponent* owner, std::u16string name) : TContainer(owner, std::move(name)) {
        SetCaption(u"");
    }
    void SetButtonSize96(int width, int height) {
        buttonWidth96_ = width;
        buttonHeight96_ = height;
    }
    int ButtonWidth96() const { return buttonWidth96_; }
    int ButtonHeight96() const { return buttonHeight96_; }

  private:
    int buttonWidth96_ = 23;
    int buttonHeight96_ = 22;
};

}  // namespace tarnell
