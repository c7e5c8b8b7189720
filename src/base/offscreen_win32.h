// Win32 glue only: the one way our windows paint off-screen. A bitmap the size of an area of the target,
// selected into a DC of its own whose origin is the area's top-left corner; drawn into, then put on the
// target in one copy, so the screen never shows a half-painted control.
#pragma once

#include <windows.h>

#include "base/scoped_win.h"

namespace tarnell {

class OffscreenBuffer {
  public:
    // An empty area, or a DC or bitmap the system would not make, leaves the buffer false.
    OffscreenBuffer(HDC target, const RECT& area)
        : target_(target), area_(area), width_(area.right - area.left), height_(area.bottom - area.top) {
        if (!target || width_ <= 0 || height_ <= 0) return;
        dc_.reset(CreateCompatibleDC(target));
        bitmap_.reset(CreateCompatibleBitmap(target, width_, height_));
        if (dc_ && bitmap_) previous_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~OffscreenBuffer() {
        if (previous_) SelectObject(dc_.get(), previous_);
    }
    OffscreenBuffer(const OffscreenBuffer&) = delete;
    OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;

    explicit operator bool() const { return previous_ != nullptr; }
    HDC Dc() const { return dc_.get(); }
    // The buffer's own rectangle: the area moved to the origin.
    RECT Local() const { return {0, 0, width_, height_}; }

    // Copies the whole buffer onto its area of the target; false when nothing was copied.
    bool Present() const { return Present(area_); }
    // Copies only the part under `clip` (target coordinates, inside the area).
    bool Present(const RECT& clip) const {
        if (!*this) return false;
        return BitBlt(target_, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, dc_.get(),
                      clip.left - area_.left, clip.top - area_.top, SRCCOPY) != FALSE;
    }

  private:
    HDC target_;
    RECT area_;
    int width_;
    int height_;
    ScopedMemoryDc dc_;
    ScopedBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace tarnell
