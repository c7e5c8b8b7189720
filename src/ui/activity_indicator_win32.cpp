#include "ui/activity_indicator_win32.h"

#include <cmath>

#include "theme/gdi_win32.h"
#include "theme/palette.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

namespace {
const UINT_PTR kTimerId = 1;
}

TActivityIndicator::TActivityIndicator(TComponent* owner, std::u16string name)
    : TCustomControl(owner, std::move(name)) {
    SetHasCaption(false);
}

void TActivityIndicator::SetAnimate(bool animate) {
    animate_ = animate;
    UpdateTimer();
}

void TActivityIndicator::AfterHandleCreated() {
    UpdateTimer();
}

void TActivityIndicator::UpdateTimer() {
    if (!Hwnd()) return;
    if (animate_) {
        SetTimer(Hwnd(), kTimerId, kFrameMilliseconds, nullptr);
    } else {
        KillTimer(Hwnd(), kTimerId);
    }
    InvalidateRect(Hwnd(), nullptr, FALSE);
}

LRESULT TActivityIndicator::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_TIMER:
            if (wParam == kTimerId) {
                frame_ = (frame_ + 1) % kDotCount;
                InvalidateRect(Hwnd(), nullptr, FALSE);
                return 0;
            }
            break;
        case WM_DESTROY:
            KillTimer(Hwnd(), kTimerId);
            break;
        default:
            break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam);
}

void TActivityIndicator::Paint(HDC dc, const RECT& client) {
    TCustomControl::Paint(dc, client);
    // While busy it may hold the keyboard focus (the run switch's stand-in): the dots turn inside the ring.
    RECT area = client;
    if (FocusCueShown()) area = DrawFocusRing(dc, client, Dpi(), FocusRingColor(CurrentUiPalette()));
    const int w = area.right - area.left, h = area.bottom - area.top;
    const double cx = area.left + w / 2.0, cy = area.top + h / 2.0;
    const double dot = (w < h ? w : h) / 8.0;             // dot radius
    const double ring = (w < h ? w : h) / 2.0 - dot - 1;  // distance of the dots from the centre
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < kDotCount; ++i) {
        // The dot at the current frame is darkest; the ones behind it fade towards the background.
        const int age = (frame_ - i + kDotCount) % kDotCount;
        const int shade = 0x40 + age * (0xE0 - 0x40) / (kDotCount - 1);
        const double angle = 2 * pi * i / kDotCount - pi / 2;
        const int x = int(std::lround(cx + ring * std::cos(angle))),
                  y = int(std::lround(cy + ring * std::sin(angle)));
        const int r = int(std::lround(dot * (age == 0 ? 1.0 : 0.85)));
        ScopedGdiObject brush(CreateSolidBrush(RGB(shade, shade, shade)));
        ScopedSelect selectBrush(dc, brush.get());
        ScopedSelect noPen(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, x - r, y - r, x + r + 1, y + r + 1);
    }
}

}  // namespace tarnell
