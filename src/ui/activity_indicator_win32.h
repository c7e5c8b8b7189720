// Win32 glue: the busy indicator, a ring of dots that turns while animating. Its size is the medium
// one, 32 x 32 at 96 DPI; it paints off-screen on a timer.
#pragma once

#include "ui/control_win32.h"

namespace tarnell {

class TActivityIndicator : public TCustomControl {
  public:
    static constexpr int kSize96 = 32;
    static constexpr int kDotCount = 8;
    static constexpr UINT kFrameMilliseconds = 100;

    TActivityIndicator(TComponent* owner, std::u16string name);
    bool Animate() const { return animate_; }
    void SetAnimate(bool animate);
    int Frame() const { return frame_; }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Paint(HDC dc, const RECT& client) override;
    const wchar_t* ClassName() const override { return L"TarnellActivityIndicator"; }
    void AfterHandleCreated() override;

  private:
    void UpdateTimer();
    bool animate_ = false;
    int frame_ = 0;
};

}  // namespace tarnell
