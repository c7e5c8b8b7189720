#include "base/dpi_win32.h"

#include "base/dpi_scale.h"
#include "base/scoped_win.h"

namespace tarnell {

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const GetDpiForWindowFn getDpiForWindow = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<GetDpiForWindowFn>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                      : nullptr;
    }();
    if (getDpiForWindow && hwnd) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

int SystemDpi() {
    const ScopedWindowDc screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : kDefaultDpi;
    return dpi > 0 ? dpi : kDefaultDpi;
}

bool SystemFontForDpi(SystemFont which, int dpi, LOGFONTW& font) {
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<ForDpiFn>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "SystemParametersInfoForDpi")))
                      : nullptr;
    }();
    if (dpi <= 0) dpi = SystemDpi();
    if (which == SystemFont::IconTitle) {
        if (forDpi && forDpi(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0, UINT(dpi))) return true;
        if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0)) return false;
    } else {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        const bool scaled = forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, UINT(dpi));
        if (!scaled && !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return false;
        font = which == SystemFont::Message ? metrics.lfMessageFont : metrics.lfStatusFont;
        if (scaled) return true;
    }
    // The system answered for its own DPI; bring the height to the one asked for.
    font.lfHeight = MulDivRound(font.lfHeight, dpi, SystemDpi());
    return true;
}

}  // namespace tarnell
