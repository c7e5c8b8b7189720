// Win32 glue: a picture from a bitmap resource, stretched to fill its box with smoothing, that takes
// clicks (the logo). It has no caption.
#pragma once

#include "ui/control_win32.h"

namespace tarnell {

class TImage : public TCustomControl {
  public:
    TImage(TComponent* owner, std::u16string name);
    // A bitmap resource of the program's module; its pixels are scaled to the control's size.
    void LoadBitmapResource(const wchar_t* resourceName);
    bool HasPicture() const { return bool(bitmap_); }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Paint(HDC dc, const RECT& client) override;
    const wchar_t* ClassName() const override { return L"TarnellImage"; }

  private:
    ScopedGdiObject bitmap_;
    SIZE size_{};
    bool pressed_ = false;
    UINT keyDown_ = 0;  // Space or Enter went down here
};

}  // namespace tarnell
