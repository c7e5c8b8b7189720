#include "theme/theme_helper_win32.h"

#include <commctrl.h>

#include <stdexcept>

#include "base/accessible_win32.h"
#include "base/bench_phases_win32.h"
#include "base/error_boundary_win32.h"
#include "base/scoped_win.h"
#include "theme/gdi_win32.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

namespace {

constexpr wchar_t kLineClass[] = L"TarnellAccentLine";
constexpr DWORD kDwmUseImmersiveDarkMode = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE, absent from older headers

void PaintLine(HWND hwnd, HDC dc) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    // In high contrast the accent is drawn in the system's highlight colour (the inactive gray text is a
    // system colour already).
    TColor color = AccentLineColor(hwnd);
    const TUiPalette palette = CurrentUiPalette();
    if (palette.highContrast && color == AccentColor) color = palette.highlight;
    ScopedBrush brush(CreateSolidBrush(ToColorRef(color)));
    FillRect(dc, &rc, brush.get());
}

LRESULT LineProcBody(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintLine(hwnd, ScopedPaint(hwnd).get());
            return 0;
        case WM_PRINTCLIENT:
            PaintLine(hwnd, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_NCHITTEST:
            return HTTRANSPARENT;  // clicks belong to the form
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK LineWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Guarded<LRESULT>(0, [&] { return LineProcBody(hwnd, msg, wParam, lParam); });
}

void RegisterLineClass() {
    static const bool registered = RegisterControlClass(kLineClass, LineWindowProc);
    (void)registered;
}

void SetLineColor(HWND line, TColor color) {
    if (AccentLineColor(line) == color) return;
    SetWindowLongPtrW(line, GWLP_USERDATA, LONG_PTR(color));
    InvalidateRect(line, nullptr, FALSE);
}

bool HasBorder(HWND form) {
    const LONG_PTR style = GetWindowLongPtrW(form, GWL_STYLE);
    return (style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) != 0;
}

bool IsTopLevel(HWND hwnd) {
    if (!hwnd || !IsWindow(hwnd)) return false;
    if (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) return false;
    return GetAncestor(hwnd, GA_ROOT) == hwnd;
}

}  // namespace

void RequestDarkTitleBar(HWND hwnd) {
    using DwmSetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    static const DwmSetWindowAttributeFn setAttribute = [] {
        HMODULE dwm = LoadLibraryExW(L"dwmapi.dll", nullptr,
                                     LOAD_LIBRARY_SEARCH_SYSTEM32);  // kept for the life of the process
        return dwm ? reinterpret_cast<DwmSetWindowAttributeFn>(
                         reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")))
                   : nullptr;
    }();
    if (!setAttribute) return;
    const INT32 value = -1;
    (void)setAttribute(hwnd, kDwmUseImmersiveDarkMode, &value, sizeof value);
}

TColor AccentLineColor(HWND line) {
    return TColor(GetWindowLongPtrW(line, GWLP_USERDATA));
}

TThemeHelper::TThemeHelper(HWND form) {
    if (!IsTopLevel(form)) throw std::runtime_error("TThemeHelper Owner must be a TForm");
    BenchCostScope theme(BenchCost::ThemeDwm);

    FForm = form;
    FActiveColor = AccentColor;
    FIsActive = true;
    FDpi = WindowDpi(FForm);

    RequestDarkTitleBar(FForm);

    RegisterLineClass();
    RECT client{};
    GetClientRect(FForm, &client);
    FShape = CreateWindowExW(0, kLineClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, client.right, LineHeight(),
                             FForm, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!FShape) throw std::runtime_error("TThemeHelper could not create its accent line");
    SetWindowLongPtrW(FShape, GWLP_USERDATA, LONG_PTR(FActiveColor));
    HideFromReaders(FShape);  // a decoration: nothing for a screen reader

    if (!SetWindowSubclass(FForm, FormWindowProc, reinterpret_cast<UINT_PTR>(this),
                           reinterpret_cast<DWORD_PTR>(this))) {
        DestroyWindow(FShape);
        throw std::runtime_error("TThemeHelper could not watch its form");
    }
    AlignLine();
    UpdateShape();
}

TThemeHelper::~TThemeHelper() {
    if (FForm) RemoveWindowSubclass(FForm, FormWindowProc, reinterpret_cast<UINT_PTR>(this));
}

TColor TThemeHelper::LineColor() const {
    return FShape ? AccentLineColor(FShape) : FActiveColor;
}

int TThemeHelper::LineHeight() const {
    return ScaleForDpi(kLineHeight96, int(FDpi));
}

void TThemeHelper::UpdateShape() {
    if (!FShape) return;
    SetLineColor(FShape, FIsActive ? FActiveColor : clGrayText);
    ShowWindow(FShape, HasBorder(FForm) ? SW_SHOWNA : SW_HIDE);
}

void TThemeHelper::AlignLine() {
    if (!FShape) return;
    RECT client{};
    GetClientRect(FForm, &client);
    SetWindowPos(FShape, HWND_TOP, 0, 0, client.right, LineHeight(), SWP_NOACTIVATE);
}

LRESULT CALLBACK TThemeHelper::FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                              DWORD_PTR self) {
    return Guarded<LRESULT>(0, [&] { return FormProcBody(hwnd, msg, wParam, lParam, id, self); });
}

LRESULT TThemeHelper::FormProcBody(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR self) {
    auto* helper = reinterpret_cast<TThemeHelper*>(self);
    switch (msg) {
        case WM_SIZE:
            helper->AlignLine();
            helper->UpdateShape();
            break;
        case WM_DPICHANGED:
            // The form takes the suggested size next; the WM_SIZE that follows lays the line out anew.
            if (HIWORD(wParam)) helper->FDpi = HIWORD(wParam);
            break;
        case WM_ACTIVATE:
            helper->FIsActive = LOWORD(wParam) != WA_INACTIVE;
            helper->UpdateShape();
            break;
        case WM_NCDESTROY:
            // The form is going away: unhook now, the line goes with the form.
            RemoveWindowSubclass(hwnd, FormWindowProc, id);
            helper->FForm = nullptr;
            helper->FShape = nullptr;
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace tarnell
