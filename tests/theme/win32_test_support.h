// Helpers for the theme's window tests: windows on the test display and their pixels read back through
// WM_PRINTCLIENT into a memory DC.
#pragma once

#include <windows.h>

#include <functional>

namespace theme_test {

inline HWND CreateTopLevel(const wchar_t* title, DWORD style = WS_OVERLAPPEDWINDOW, int width = 400,
                           int height = 300, WNDPROC proc = nullptr) {
    static const wchar_t* kClass = L"TarnellThemeTestForm";
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);
        registered = true;
    }
    HWND hwnd = CreateWindowExW(0, kClass, title, style, 50, 50, width, height, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (hwnd && proc) SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    return hwnd;
}

inline void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The window's client area as painted by WM_PRINTCLIENT, kept in a memory DC for GetPixel.
class Snapshot {
  public:
    explicit Snapshot(HWND hwnd) {
        GetClientRect(hwnd, &rc_);
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = rc_.right;
        bi.bmiHeader.biHeight = -rc_.bottom;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        old_ = SelectObject(dc_, bitmap_);
        RECT all = rc_;
        FillRect(dc_, &all, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_), PRF_CLIENT);
    }
    ~Snapshot() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    COLORREF Pixel(int x, int y) const { return GetPixel(dc_, x, y); }
    int Width() const { return rc_.right; }
    int Height() const { return rc_.bottom; }
    int Count(const std::function<bool(COLORREF)>& match, RECT area) const {
        int n = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (match(Pixel(x, y))) ++n;
        return n;
    }

  private:
    RECT rc_{};
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

inline bool Near(COLORREF a, COLORREF b, int tolerance = 8) {
    auto d = [](int x, int y) { return x > y ? x - y : y - x; };
    return d(GetRValue(a), GetRValue(b)) <= tolerance && d(GetGValue(a), GetGValue(b)) <= tolerance &&
           d(GetBValue(a), GetBValue(b)) <= tolerance;
}

}  // namespace theme_test
