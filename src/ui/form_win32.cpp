#include "ui/form_win32.h"

#include <algorithm>
#include <cmath>

#include "base/bench_phases_win32.h"
#include "base/wide.h"

namespace tarnell {

namespace {

using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

const DWORD kFixedStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
const DWORD kSizableStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

}  // namespace

TForm::TForm(TComponent* owner, std::u16string name) : TContainer(owner, std::move(name)) {}

TForm::~TForm() {
    OnDestroy = nullptr;  // the window goes with the object; nobody is told any more
    DestroyHandle();
}

void TForm::SetClientSize96(int width, int height) {
    clientWidth96_ = width;
    clientHeight96_ = height;
}

void TForm::SetTopInset96(int inset) {
    topInset96_ = inset;
    if (Hwnd()) PlaceAgain(*this);
}

// Only places change: a container's children follow their container (a card fills its card panel).
void TForm::PlaceAgain(TContainer& container) {
    for (TControl* child : container.Children()) {
        if (child->Hwnd()) {
            const PixelRect r = child->BoundsPixels();
            SetWindowPos(child->Hwnd(), nullptr, r.left, r.top, r.width, r.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (auto* inner = dynamic_cast<TContainer*>(child)) PlaceAgain(*inner);
    }
}

PixelRect TForm::PlaceChild(const Rect96& bounds, int dpi) const {
    PixelRect r = ScaleRect(bounds, dpi);
    const int inset = ScaleForDpi(topInset96_, dpi);
    if (inset == 0) return r;
    r.top += inset;
    if (bounds.top + bounds.height >= clientHeight96_) {
        r.height = ScaleForDpi(clientHeight96_, dpi) - r.top;
        if (r.height < 0) r.height = 0;
    }
    return r;
}

void TForm::SetFormFont(const TFontSpec& font) {
    fontSpec_ = font;
    RebuildFont();
}

void TForm::SetDesktopFont(bool desktop) {
    desktopFont_ = desktop;
    RebuildFont();
    UpdateLayoutDpi();
}

namespace {

// The icon-title font's standard height at 96 DPI (9 points): the 100 % text size.
constexpr int kStandardTextHeight96 = 12;

// How much the icon-title font `lf` (made for `dpi`) is larger than standard, in percent; 100 at least.
int GrowthPercent(const LOGFONTW& lf, int dpi) {
    const int standard = ScaleForDpi(kStandardTextHeight96, dpi);
    const int height = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    return standard > 0 && height > standard ? MulDivRound(height, 100, standard) : 100;
}

}  // namespace

int TForm::TextScalePercent() const {
    int percent = 100;
    DWORD factor = 0, size = sizeof(factor);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor",
                     RRF_RT_REG_DWORD, nullptr, &factor, &size) == ERROR_SUCCESS &&
        factor > 100 && factor <= 225)
        percent = int(factor);
    LOGFONTW lf{};
    if (desktopFont_ && SystemFontForDpi(SystemFont::IconTitle, dpi_, lf))
        percent = std::max(percent, GrowthPercent(lf, dpi_));
    return percent;
}

int TForm::LayoutDpiFor(int dpi) const {
    int layout = MulDivRound(dpi, TextScalePercent(), 100);
    if (layout <= dpi || !Hwnd() || clientWidth96_ <= 0 || clientHeight96_ <= 0) return dpi;
    // No larger than the screen's work area allows.
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(MonitorFromWindow(Hwnd(), MONITOR_DEFAULTTOPRIMARY), &mi)) {
        const int frameX = ScaleForDpi(16, dpi), frameY = ScaleForDpi(48, dpi);
        const int fitX = MulDivRound(mi.rcWork.right - mi.rcWork.left - frameX, kDefaultDpi, clientWidth96_);
        const int fitY = MulDivRound(mi.rcWork.bottom - mi.rcWork.top - frameY, kDefaultDpi, clientHeight96_);
        layout = std::max(dpi, std::min({layout, fitX, fitY}));
    }
    return layout;
}

void TForm::UpdateLayoutDpi() {
    const int layout = LayoutDpiFor(dpi_);
    if (layout == layoutDpi_) return;
    layoutDpi_ = layout;
    if (!Hwnd()) return;
    RebuildFont();
    // A window not shown yet opens centred at its new size; a shown one keeps its top-left corner.
    if (IsWindowVisible(Hwnd())) {
        const SIZE outer = OuterSizeForClient();
        SetWindowPos(Hwnd(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    } else {
        CentreOnScreen();
    }
    for (TControl* child : Children()) child->ApplyDpi();
    OnDpiChanged(layoutDpi_);
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TForm::RebuildFont() {
    ScopedGdiObject made;
    if (desktopFont_) {
        // The icon-title font brought back to its size before any growth the system gave it, then grown by
        // the layout's own factor: text and layout grow alike, whether the system enlarged its font for the
        // text size (Windows) or not (Wine), and a font the system enlarged is not enlarged twice. At the
        // standard text size this is the icon-title font as the system gives it.
        LOGFONTW lf{};
        if (SystemFontForDpi(SystemFont::IconTitle, dpi_, lf)) {
            const double factor = double(layoutDpi_) * 100.0 / (double(dpi_) * GrowthPercent(lf, dpi_));
            lf.lfHeight = int(std::lround(lf.lfHeight * factor));
            lf.lfWidth = 0;
            BenchCostScope fonts(BenchCost::Fonts);
            made.reset(CreateFontIndirectW(&lf));
        }
    }
    if (!made) made = CreateFontForDpi(fontSpec_, layoutDpi_);
    // Controls hold the old handle until they are told; swap only after everyone has the new one.
    ScopedGdiObject old = std::move(font_);
    font_ = std::move(made);
    if (Hwnd()) {
        for (TControl* child : Children()) ApplyFontToAll(child);
        InvalidateRect(Hwnd(), nullptr, TRUE);
    }
}

void TForm::ApplyFontToAll(TControl* control) {
    if (!control->HasOwnFont() && control->Hwnd()) {
        SendMessageW(control->Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), TRUE);
    }
    if (auto* container = dynamic_cast<TContainer*>(control)) {
        for (TControl* child : container->Children()) ApplyFontToAll(child);
    }
}

// The client area at the layout DPI in a frame at the monitor's DPI.
SIZE TForm::OuterSizeForClient() const {
    RECT r{0, 0, ScaleForDpi(clientWidth96_, layoutDpi_), ScaleForDpi(clientHeight96_, layoutDpi_)};
    const DWORD style = fixedSingle_ ? kFixedStyle : kSizableStyle;
    static const auto adjustForDpi = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, 0, UINT(dpi_)))
        AdjustWindowRectEx(&r, style, FALSE, 0);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// Size for the client area at the layout DPI, centred on the screen the window is on.
void TForm::CentreOnScreen() {
    const SIZE outer = OuterSizeForClient();
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(Hwnd(), MONITOR_DEFAULTTOPRIMARY), &mi)) screen = mi.rcMonitor;
    const int x = screen.left + ((screen.right - screen.left) - outer.cx) / 2;
    const int y = screen.top + ((screen.bottom - screen.top) - outer.cy) / 2;
    SetWindowPos(Hwnd(), nullptr, x, y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND TForm::MakeWindow(HWND parentHwnd, const PixelRect&, DWORD) {
    const std::wstring title = ToWide(Caption());
    CreateBound(ClassName(), 0, fixedSingle_ ? kFixedStyle : kSizableStyle, title.c_str(), CW_USEDEFAULT,
                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parentHwnd, nullptr, CS_DBLCLKS, nullptr);
    return Handle();
}

void TForm::CreateFormHandle() {
    if (Hwnd()) return;
    CreateHandle(nullptr);
    if (!Hwnd()) return;
    dpi_ = WindowDpi(Hwnd());
    layoutDpi_ = dpi_;
    RebuildFont();
    layoutDpi_ = LayoutDpiFor(dpi_);
    if (layoutDpi_ != dpi_) RebuildFont();
    CentreOnScreen();
    for (TControl* child : Children()) child->ApplyDpi();
}

std::vector<HWND> TForm::TabStops() const {
    std::vector<HWND> stops;
    for (TControl* control : TabOrder()) {
        if (control && control->Hwnd()) stops.push_back(control->Hwnd());
    }
    return stops;
}

bool TForm::NavigationKey(WPARAM key) {
    if (!Hwnd()) return false;
    if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN) {
        SetFocusCuesShown(true);
        return ArrowKey(GetFocus(), key == VK_LEFT || key == VK_UP);
    }
    if (key != VK_TAB) return false;
    const bool backward = GetKeyState(VK_SHIFT) < 0;
    SetFocusCuesShown(true);
    if (GetKeyState(VK_CONTROL) < 0) {
        NextPage(backward);
        return true;
    }
    std::vector<HWND> stops;
    for (HWND hwnd : TabStops()) {
        if (hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) stops.push_back(hwnd);
    }
    if (stops.empty()) return true;
    HWND focus = GetFocus();
    size_t at = stops.size();
    for (size_t i = 0; i < stops.size(); ++i) {
        if (stops[i] == focus || IsChild(stops[i], focus)) at = i;
    }
    size_t next;
    if (at == stops.size()) {
        next = backward ? stops.size() - 1 : 0;
    } else {
        next = backward ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
    }
    focusReturn_ = nullptr;
    keyboardFocus_ = stops[next];
    SetFocus(stops[next]);
    return true;
}

void TForm::SetFocusCuesShown(bool shown) {
    if (hideFocus_ == !shown) return;
    hideFocus_ = !shown;
    BroadcastUiState();
}

// Windows passes WM_UPDATEUISTATE down from the top-level window; it is sent to every window here so that
// the state also arrives where the system does not pass it on (Wine).
void TForm::BroadcastUiState() {
    if (!Hwnd()) return;
    const WPARAM state = MAKEWPARAM(hideFocus_ ? UIS_SET : UIS_CLEAR, UISF_HIDEFOCUS);
    EnumChildWindows(
        Hwnd(),
        [](HWND child, LPARAM wParam) -> BOOL {
            SendMessageW(child, WM_UPDATEUISTATE, WPARAM(wParam), 0);
            return TRUE;
        },
        LPARAM(state));
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void TForm::FocusAvailableAgain(HWND control) {
    if (!control || control != focusReturn_ || !Hwnd()) return;
    HWND focus = GetFocus();
    HWND standIn = FocusStandIn(control);
    if ((focus != Hwnd() && (!standIn || focus != standIn)) || !IsWindowVisible(control) ||
        !IsWindowEnabled(control))
        return;
    focusReturn_ = nullptr;
    SetFocus(control);
}

void TForm::SystemColorsChanged() {
    // Standard controls keep brushes of the system's colours; they are told as a top-level window is.
    EnumChildWindows(
        Hwnd(),
        [](HWND child, LPARAM) -> BOOL {
            SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
            return TRUE;
        },
        0);
    OnColorsChanged();
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TForm::Show() {
    if (!Hwnd()) CreateFormHandle();
    ShowWindow(Hwnd(), SW_SHOWNORMAL);
    UpdateWindow(Hwnd());
}

void TForm::Close() {
    if (Hwnd()) PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
}

void TForm::CaptionChanged() {
    if (Hwnd()) SetWindowTextW(Hwnd(), W(Caption()));
}

void TForm::ChangeDpi(int dpi) {
    if (dpi <= 0 || !Hwnd()) return;
    dpi_ = dpi;
    layoutDpi_ = dpi;
    RebuildFont();
    layoutDpi_ = LayoutDpiFor(dpi);
    if (layoutDpi_ != dpi_) {
        // The size the system suggested is for the standard text size.
        RebuildFont();
        const SIZE outer = OuterSizeForClient();
        SetWindowPos(Hwnd(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    for (TControl* child : Children()) child->ApplyDpi();
    OnDpiChanged(layoutDpi_);
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

LRESULT TForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(Hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            ChangeDpi(HIWORD(wParam));
            return 0;
        }
        case WM_KEYDOWN:
            if (NavigationKey(wParam)) return 0;
            break;
        case WM_QUERYUISTATE:
            return hideFocus_ ? UISF_HIDEFOCUS : 0;
        case WM_ACTIVATE:
            // As a dialog does: the focused control is remembered when another window takes over and gets
            // the focus back when this one is active again. Coming back from a box or prompt of its own
            // with no control focused, the first tab stop takes it (a toggle shows nothing until the
            // keyboard is used), so a keyboard user is not left on the bare window.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                focusBeforeInactive_ = focus && IsChild(Hwnd(), focus) ? focus : nullptr;
                break;
            }
            if (!HIWORD(wParam)) {
                HWND from = reinterpret_cast<HWND>(lParam);
                HWND target = focusBeforeInactive_;
                focusBeforeInactive_ = nullptr;
                if (!target && from && GetWindow(from, GW_OWNER) == Hwnd()) {
                    for (HWND stop : TabStops()) {
                        if (IsWindowVisible(stop) && IsWindowEnabled(stop)) {
                            target = stop;
                            break;
                        }
                    }
                }
                if (target && IsWindow(target) && IsChild(Hwnd(), target) && IsWindowVisible(target) &&
                    IsWindowEnabled(target)) {
                    TContainer::HandleMessage(msg, wParam, lParam);
                    SetFocus(target);
                    return 0;
                }
            }
            break;
        case WM_CHANGEUISTATE:
        case WM_UPDATEUISTATE:
            if (HIWORD(wParam) & UISF_HIDEFOCUS) {
                if (LOWORD(wParam) == UIS_SET) SetFocusCuesShown(false);
                if (LOWORD(wParam) == UIS_CLEAR) SetFocusCuesShown(true);
            }
            return 0;
        case WM_SETTINGCHANGE:
            // A new text size comes as a change of the fonts' metrics.
            if (desktopFont_) RebuildFont();
            UpdateLayoutDpi();
            SystemColorsChanged();
            break;
        case WM_SYSCOLORCHANGE:
        case WM_THEMECHANGED:
            SystemColorsChanged();
            break;
        case WM_DESTROY:
            FormDestroying();
            if (OnDestroy) OnDestroy();
            return 0;
        default:
            break;
    }
    return TContainer::HandleMessage(msg, wParam, lParam);
}

}  // namespace tarnell
