// Win32 glue: the controls that are standard windows of the system: label and check box.
#pragma once

#include "ui/control_win32.h"

namespace tarnell {

// A static text. Automatic sizing is off: the text is clipped to the stored rectangle. A left-aligned
// label does not wrap: its one line is cut at the right edge.
class TLabel : public TControl {
  public:
    using TControl::TControl;
    void SetCentered(bool centered) { centered_ = centered; }

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;

  private:
    bool centered_ = false;
};

// A two-state check box. It is no tab stop. Like the toolkit's check box, OnClick runs whenever the
// state changes, by the user or by SetChecked.
class TCheckBox : public TControl {
  public:
    using TControl::TControl;
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);

    void OnReflectCommand(WORD code) override;

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;

  private:
    bool checked_ = false;
};

}  // namespace tarnell
