#include "theme/gdi_win32.h"

#include <algorithm>
// gdiplus.h uses unqualified min and max, which NOMINMAX hides.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/bench_phases_win32.h"
#include "theme/palette.h"

namespace tarnell {

COLORREF ToColorRef(TColor color) {
    if (color == clNone || color == clDefault) return RGB(0, 0, 0);
    const TColor rgb = ColorToRgb(color, Win32SystemColor);
    return RGB(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

RECT DrawFocusRing(HDC dc, const RECT& rect, int dpi, TColor color) {
    const int width = std::max(1, ScaleForDpi(kFocusRingWidth96, dpi));
    const int gap = std::max(1, ScaleForDpi(kFocusRingGap96, dpi));
    HBRUSH brush = CreateSolidBrush(ToColorRef(color));
    const RECT strips[] = {
        {rect.left, rect.top, rect.right, rect.top + width},
        {rect.left, rect.bottom - width, rect.right, rect.bottom},
        {rect.left, rect.top + width, rect.left + width, rect.bottom - width},
        {rect.right - width, rect.top + width, rect.right, rect.bottom - width},
    };
    for (const RECT& strip : strips) FillRect(dc, &strip, brush);
    DeleteObject(brush);
    RECT inner = rect;
    InflateRect(&inner, -(width + gap), -(width + gap));
    return inner;
}

TColor Win32SystemColor(int index) {
    const COLORREF c = GetSysColor(index);
    return RgbColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

bool EnsureGdiplus() {
    static const bool started = [] {
        BenchCostScope gdiplus(BenchCost::Gdiplus);
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

LOGFONTW FontInfo(HFONT font) {
    LOGFONTW lf{};
    if (!font || GetObjectW(font, sizeof lf, &lf) == 0) {
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    }
    return lf;
}

HFONT CreateStyledFont(HFONT base, TFontStyles style) {
    BenchCostScope fonts(BenchCost::Fonts);
    LOGFONTW lf = FontInfo(base);
    lf.lfWeight = (style & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style & fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = (style & fsUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = (style & fsStrikeOut) ? TRUE : FALSE;
    return CreateFontIndirectW(&lf);
}

bool RegisterControlClass(const wchar_t* className, WNDPROC proc, UINT style) {
    BenchCostScope classes(BenchCost::WindowClasses);
    WNDCLASSEXW wc{sizeof wc};
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void* ControlFromHandle(HWND hwnd, const wchar_t* className) {
    wchar_t name[64] = {};
    if (!hwnd || !GetClassNameW(hwnd, name, 64) || lstrcmpiW(name, className) != 0) return nullptr;
    return reinterpret_cast<void*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace tarnell
