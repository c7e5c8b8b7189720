#include "ui/image_win32.h"

#include <windowsx.h>

#include "base/bench_phases_win32.h"
#include "theme/gdi_win32.h"
#include "theme/palette.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

TImage::TImage(TComponent* owner, std::u16string name) : TCustomControl(owner, std::move(name)) {
    SetHasCaption(false);
}

void TImage::LoadBitmapResource(const wchar_t* resourceName) {
    BenchCostScope logo(BenchCost::Logo);
    bitmap_.reset(
        LoadImageW(GetModuleHandleW(nullptr), resourceName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    size_ = SIZE{};
    if (bitmap_) {
        BITMAP bm{};
        GetObjectW(bitmap_.get(), sizeof(bm), &bm);
        size_ = SIZE{bm.bmWidth, bm.bmHeight};
    }
    if (Hwnd()) InvalidateRect(Hwnd(), nullptr, FALSE);
}

LRESULT TImage::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            pressed_ = true;
            SetCapture(Hwnd());
            return 0;
        case WM_LBUTTONUP: {
            const bool wasPressed = pressed_;
            pressed_ = false;
            if (GetCapture() == Hwnd()) ReleaseCapture();
            RECT client;
            GetClientRect(Hwnd(), &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (wasPressed && PtInRect(&client, at)) Click();
            return 0;
        }
        case WM_CAPTURECHANGED:
            pressed_ = false;
            break;
        // A link: Space and Enter open it when the key comes up, as the system's buttons act.
        case WM_KEYDOWN:
            if (wParam == VK_SPACE || wParam == VK_RETURN) {
                keyDown_ = UINT(wParam);
                return 0;
            }
            break;
        case WM_KEYUP:
            if (keyDown_ && wParam == keyDown_) {
                keyDown_ = 0;
                Click();
                return 0;
            }
            break;
        case WM_KILLFOCUS:
            keyDown_ = 0;
            break;
        case WM_GETDLGCODE:
            return DLGC_BUTTON;
        case BM_CLICK:
            // What a screen reader's default action posts.
            if (IsWindowEnabled(Hwnd()) && IsWindowVisible(Hwnd())) Click();
            return 0;
        default:
            break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam);
}

void TImage::Paint(HDC dc, const RECT& client) {
    TCustomControl::Paint(dc, client);
    // With the focus cue the picture shrinks into the ring (see theme/palette.h).
    RECT picture = client;
    if (FocusCueShown()) picture = DrawFocusRing(dc, client, Dpi(), FocusRingColor(CurrentUiPalette()));
    if (!bitmap_ || size_.cx <= 0 || size_.cy <= 0) return;
    BenchCostScope logo(BenchCost::Logo);
    ScopedMemoryDc source(CreateCompatibleDC(dc));
    ScopedSelect select(source.get(), bitmap_.get());
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, picture.left, picture.top, picture.right - picture.left, picture.bottom - picture.top,
               source.get(), 0, 0, size_.cx, size_.cy, SRCCOPY);
}

}  // namespace tarnell
