// Win32 glue: the markup label of the appearance module, hosted as a control. It has no caption: its
// markup text is set with SetText and the caption walk passes it by.
#pragma once

#include <string>

#include "ui/control_win32.h"

namespace tarnell {

class MarkupLabel;

class TMarkupLabel : public TControl {
  public:
    TMarkupLabel(TComponent* owner, std::u16string name);
    const std::u16string& Text() const { return text_; }
    void SetText(const std::u16string& text);
    // The text as shown, without its tags: the laid-out lines, joined by a space.
    std::u16string PlainText() const;
    MarkupLabel* Label() const;

  protected:
    HWND MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) override;

  private:
    std::u16string text_;
};

}  // namespace tarnell
