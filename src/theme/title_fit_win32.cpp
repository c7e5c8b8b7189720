#include "theme/title_fit_win32.h"

#include <string>

#include "theme/gdi_win32.h"
#include "theme/title_fit.h"

namespace tarnell {

int FontSizeInPoints(HFONT font, UINT dpi) {
    const LOGFONTW lf = FontInfo(font);
    const int height = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    return MulDiv(height, 72, int(dpi));
}

HFONT FitLabelFont(HWND label, HFONT font) {
    RECT rc{};
    GetWindowRect(label, &rc);
    const UINT dpi = WindowDpi(label);

    HFONT fitted = nullptr;
    FitLabelTarget target;
    target.width = rc.right - rc.left;
    target.fontSize = FontSizeInPoints(font, dpi);
    target.measureCaption = [&] {
        const int length = GetWindowTextLengthW(label);
        std::wstring caption(size_t(length) + 1, L'\0');
        caption.resize(size_t(GetWindowTextW(label, caption.data(), length + 1)));
        HDC dc = GetDC(label);
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size{};
        GetTextExtentPoint32W(dc, caption.c_str(), int(caption.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(label, dc);
        return int(size.cx);
    };
    target.setFontSize = [&](int points) {
        LOGFONTW lf = FontInfo(font);
        lf.lfHeight = -MulDiv(points, int(dpi), 72);
        fitted = CreateFontIndirectW(&lf);
    };
    tarnell::FitLabelFont(target);
    return fitted;
}

}  // namespace tarnell
