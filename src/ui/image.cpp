#include "ui/image.h"

#include <windowsx.h>

namespace tarnell {

TImage::TImage(TComponent* owner, std::u16string name) : TCustomControl(owner, std::move(name)) {
    SetHasCaption(false);
}

void TImage::LoadBitmapResource(const wchar_t* resourceName) {
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
        default:
            break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam);
}

void TImage::Paint(HDC dc, const RECT& client) {
    TCustomControl::Paint(dc, client);
    if (!bitmap_ || size_.cx <= 0 || size_.cy <= 0) return;
    HDC source = CreateCompatibleDC(dc);
    {
        ScopedSelect select(source, bitmap_.get());
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, source, 0, 0, size_.cx,
                   size_.cy, SRCCOPY);
    }
    DeleteDC(source);
}

}  // namespace tarnell
