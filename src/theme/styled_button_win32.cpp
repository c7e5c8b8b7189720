#include "theme/styled_button_win32.h"

#include <algorithm>
// gdiplus.h uses unqualified min and max, which NOMINMAX hides.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/accessible_win32.h"
#include "base/error_boundary_win32.h"
#include "base/offscreen_win32.h"
#include "base/wide.h"
#include "theme/gdi_win32.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

namespace {

constexpr wchar_t kClassName[] = L"TarnellStyledButton";

Gdiplus::Color GdipColor(TColor color) {
    const COLORREF c = ToColorRef(color);
    return Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c));
}

// The button's outline over the rectangle x, y, w, h (GDI+ coordinates: pixel centres on whole numbers).
void AddOutline(Gdiplus::GraphicsPath& path, TStyledButtonDrawType type, Gdiplus::REAL x, Gdiplus::REAL y,
                Gdiplus::REAL w, Gdiplus::REAL h, Gdiplus::REAL radius) {
    if (w <= 0 || h <= 0) return;
    if (type == TStyledButtonDrawType::btEllipse) {
        path.AddEllipse(x, y, w, h);
        return;
    }
    Gdiplus::REAL r = 0;
    if (type == TStyledButtonDrawType::btRoundRect) r = radius;
    if (type == TStyledButtonDrawType::btRounded) r = std::min(w, h) / 2;
    const Gdiplus::REAL d = std::min({2 * r, w, h});
    if (d <= 0) {
        path.AddRectangle(Gdiplus::RectF(x, y, w, h));
        return;
    }
    path.AddArc(x, y, d, d, 180, 90);
    path.AddArc(x + w - d, y, d, d, 270, 90);
    path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
    path.AddArc(x, y + h - d, d, d, 90, 90);
    path.CloseFigure();
}

}  // namespace

const wchar_t* StyledButton::ClassName() {
    return kClassName;
}

HWND StyledButton::Create(HWND parent, int x, int y, int width, int height, const StyledButtonConfig& config,
                          UINT id) {
    static const bool registered = RegisterControlClass(
        kClassName, ControlWindow<StyledButton, StyledButtonConfig>::Proc, CS_HREDRAW | CS_VREDRAW);
    if (!registered) return nullptr;
    StyledButtonConfig copy = config;
    return CreateWindowExW(0, kClassName, W(config.caption), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y,
                           width, height, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           GetModuleHandleW(nullptr), &copy);
}

StyledButton* StyledButton::FromHandle(HWND hwnd) {
    return static_cast<StyledButton*>(ControlFromHandle(hwnd, kClassName));
}

StyledButton::StyledButton(HWND hwnd, const StyledButtonConfig& config) : hwnd_(hwnd), config_(config) {
    records_.fill(TStyledButtonAttributes{});
    ApplyButtonStyle(ButtonFamilyRegistry(), config_.family, config_.styleClass, config_.appearance,
                     records_);
}

LRESULT StyledButton::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint(ScopedPaint(hwnd_).get());
            return 0;
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_SETFONT:
            font_ = reinterpret_cast<HFONT>(wParam);
            if (LOWORD(lParam)) Invalidate();
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(hwnd_, msg, wParam, lParam);
            Invalidate();
            NotifyAccessible(EVENT_OBJECT_NAMECHANGE, hwnd_);
            return result;
        }
        case BM_CLICK:
            // What a screen reader's default action posts.
            if (Enabled() && IsWindowVisible(hwnd_)) Click();
            return 0;
        case WM_ENABLE:
            NotifyAccessible(EVENT_OBJECT_STATECHANGE, hwnd_);
            if (!wParam) {
                hot_ = held_ = heldInside_ = false;
                keyDown_ = 0;
                if (GetCapture() == hwnd_) ReleaseCapture();
            }
            Invalidate();
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(lParam);
            return 0;
        case WM_MOUSELEAVE:
            if (!held_) SetHot(false);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            // No SetFocus: a click never gives the button the keyboard focus (only Tab does).
            held_ = heldInside_ = true;
            SetCapture(hwnd_);
            Invalidate();
            return 0;
        case WM_LBUTTONUP: {
            if (!held_) return 0;
            RECT rc;
            GetClientRect(hwnd_, &rc);
            const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            const bool inside = PtInRect(&rc, pt) != FALSE;
            held_ = heldInside_ = false;
            if (GetCapture() == hwnd_) ReleaseCapture();
            Invalidate();
            if (inside && Enabled()) Click();
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (held_) {
                held_ = heldInside_ = false;
                Invalidate();
            }
            return 0;
        // The keyboard, once Tab gave the button the focus: Space or Enter shows it pressed while the key is
        // down and clicks when the key comes up, as the system's buttons do.
        case WM_KEYDOWN:
            if (wParam == VK_SPACE || wParam == VK_RETURN) {
                if (!keyDown_ && Enabled()) {
                    keyDown_ = UINT(wParam);
                    Invalidate();
                }
                return 0;
            }
            // Tab goes up to the window; so do the arrow keys from a tab list's button (a toggle of a group).
            if (wParam == VK_TAB || (config_.groupIndex != 0 && (wParam == VK_LEFT || wParam == VK_RIGHT ||
                                                                 wParam == VK_UP || wParam == VK_DOWN))) {
                if (HWND root = GetAncestor(hwnd_, GA_ROOT); root && root != hwnd_)
                    return SendMessageW(root, msg, wParam, lParam);
            }
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
        case WM_KEYUP:
            if (keyDown_ && wParam == keyDown_) {
                keyDown_ = 0;
                Invalidate();
                if (Enabled()) Click();
                return 0;
            }
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
        case WM_SETFOCUS:
            Invalidate();
            NotifyAccessible(EVENT_OBJECT_FOCUS, hwnd_);
            return 0;
        case WM_KILLFOCUS:
            keyDown_ = 0;
            Invalidate();
            return 0;
        case WM_UPDATEUISTATE:
            if (HIWORD(wParam) & UISF_HIDEFOCUS) {
                if (LOWORD(wParam) == UIS_SET) hideFocus_ = true;
                if (LOWORD(wParam) == UIS_CLEAR) hideFocus_ = false;
                Invalidate();
            }
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
        case WM_QUERYUISTATE:
            return hideFocus_ ? UISF_HIDEFOCUS : 0;
        case WM_GETDLGCODE:
            return DLGC_BUTTON | (config_.groupIndex != 0 ? DLGC_WANTARROWS : 0);
        case WM_DPICHANGED_AFTERPARENT:
            Invalidate();
            return 0;
        default:
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

void StyledButton::OnMouseMove(LPARAM lParam) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    const bool inside = PtInRect(&rc, pt) != FALSE;
    if (held_ && inside != heldInside_) {
        heldInside_ = inside;
        Invalidate();
    }
    if (inside && !hot_) {
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd_, 0};
        TrackMouseEvent(&tme);
    }
    SetHot(inside);
}

void StyledButton::SetHot(bool hot) {
    if (hot_ == hot) return;
    hot_ = hot;
    Invalidate();
}

std::u16string StyledButton::Caption() const {
    const int length = GetWindowTextLengthW(hwnd_);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(hwnd_, text.data(), length + 1)));
    return FromWide(text);
}

void StyledButton::SetCaption(const std::u16string& caption) {
    SetWindowTextW(hwnd_, W(caption));
}

bool StyledButton::SetStyle(const std::u16string& family, const std::u16string& styleClass,
                            const std::u16string& appearance) {
    config_.family = family;
    config_.styleClass = styleClass;
    config_.appearance = appearance;
    const bool valid = ApplyButtonStyle(ButtonFamilyRegistry(), config_.family, config_.styleClass,
                                        config_.appearance, records_);
    Invalidate();
    return valid;
}

void StyledButton::SetRadius(int radius96) {
    config_.radius96 = radius96;
    Invalidate();
}

void StyledButton::SetFlat(bool flat) {
    config_.flat = flat;
    Invalidate();
}

void StyledButton::SetBackground(TColor color) {
    config_.background = color;
    Invalidate();
}

void StyledButton::SetDown(bool down) {
    if (down && config_.groupIndex != 0) {
        HWND parent = GetParent(hwnd_);
        for (HWND sibling = GetWindow(parent, GW_CHILD); sibling; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
            StyledButton* other = sibling == hwnd_ ? nullptr : FromHandle(sibling);
            if (other && other->config_.groupIndex == config_.groupIndex && other->config_.down) {
                other->config_.down = false;
                other->Invalidate();
                NotifyAccessible(EVENT_OBJECT_STATECHANGE, other->hwnd_);
            }
        }
    }
    if (config_.down != down) {
        config_.down = down;
        Invalidate();
        NotifyAccessible(EVENT_OBJECT_STATECHANGE, hwnd_);
        if (down && config_.groupIndex != 0) NotifyAccessible(EVENT_OBJECT_SELECTION, hwnd_);
    }
}

void StyledButton::Click() {
    if (config_.groupIndex != 0) SetDown(true);
    if (onClick_) {
        ClickHandler handler = onClick_;  // a copy: the handler may replace itself
        handler(*this);
    }
}

TStyledButtonState StyledButton::State() const {
    if (!Enabled()) return TStyledButtonState::bsmDisabled;
    if (config_.down || (held_ && heldInside_) || keyDown_) return TStyledButtonState::bsmPressed;
    // A toggle of a group shows the focus by its ring alone: a fill says that it is the selected one.
    if (GetFocus() == hwnd_ && config_.groupIndex == 0) return TStyledButtonState::bsmSelected;
    if (hot_) return TStyledButtonState::bsmHot;
    return TStyledButtonState::bsmNormal;
}

bool StyledButton::FocusCueShown() const {
    return GetFocus() == hwnd_ && !hideFocus_;
}

bool StyledButton::DrawsBorder() const {
    return DrawsBorder(records_[size_t(State())]);
}

bool StyledButton::DrawsBorder(const TStyledButtonAttributes& record) const {
    if (record.BorderDrawStyle != TBorderDrawStyle::brdSolid) return false;
    return !config_.flat || hot_;
}

void StyledButton::Paint(HDC target) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    const int width = rc.right, height = rc.bottom;
    if (width <= 0 || height <= 0) return;

    OffscreenBuffer buffer(target, rc);
    if (!buffer) return;
    HDC dc = buffer.Dc();

    // In high contrast the system's colours replace the family's; the shapes stay.
    const TUiPalette palette = CurrentUiPalette();
    {
        ScopedBrush background(
            CreateSolidBrush(ToColorRef(palette.highContrast ? palette.window : config_.background)));
        FillRect(dc, &rc, background.get());
    }

    const TStyledButtonState state = State();
    const TStyledButtonAttributes record = PaletteAttributes(records_[size_t(state)], state, palette);
    const int dpi = WindowDpi(hwnd_);
    // With the focus cue the button is drawn inside its focus ring and the gap after it (see palette.h).
    const bool ring = FocusCueShown();
    const int ringWidth = std::max(1, ScaleForDpi(kFocusRingWidth96, dpi));
    const int inset = ring ? ringWidth + std::max(1, ScaleForDpi(kFocusRingGap96, dpi)) : 0;
    if (EnsureGdiplus()) {
        Gdiplus::Graphics graphics(dc);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        const TStyledButtonDrawType type = config_.drawType.value_or(records_[0].DrawType);
        const Gdiplus::REAL radius = Gdiplus::REAL(ScaleForDpi(config_.radius96, dpi));
        const Gdiplus::REAL o = Gdiplus::REAL(inset);
        const Gdiplus::REAL w = Gdiplus::REAL(width - 2 * inset), h = Gdiplus::REAL(height - 2 * inset);
        if (record.ButtonDrawStyle == TButtonDrawStyle::btnSolid) {
            // The fill covers whole pixels, from the left edge of pixel 0 to the right edge of the last; its
            // corners are concentric with the border's.
            Gdiplus::GraphicsPath fill;
            AddOutline(fill, type, o - 0.5f, o - 0.5f, w, h, radius > 0 ? radius + 0.5f : 0);
            Gdiplus::SolidBrush brush(GdipColor(record.ButtonColor));
            graphics.FillPath(&brush, &fill);
        }
        if (DrawsBorder(record)) {
            // Width 0 is the thinnest line: one device pixel, centred on the outermost pixels.
            const int penWidth = std::max(1, ScaleForDpi(record.BorderWidth, dpi));
            const Gdiplus::REAL penInset = o + Gdiplus::REAL(penWidth - 1) / 2;
            Gdiplus::GraphicsPath border;
            AddOutline(border, type, penInset, penInset, w - 1 - 2 * (penInset - o),
                       h - 1 - 2 * (penInset - o), radius);
            Gdiplus::Pen pen(GdipColor(record.BorderColor), Gdiplus::REAL(penWidth));
            graphics.DrawPath(&pen, &border);
        }
        if (ring) {
            // The ring's outer edge is the control's edge; the corners follow the button's outline.
            const Gdiplus::REAL ringInset = Gdiplus::REAL(ringWidth - 1) / 2;
            Gdiplus::GraphicsPath path;
            AddOutline(path, type, ringInset, ringInset, Gdiplus::REAL(width) - 1 - 2 * ringInset,
                       Gdiplus::REAL(height) - 1 - 2 * ringInset, radius);
            Gdiplus::Pen pen(GdipColor(FocusRingColor(palette)), Gdiplus::REAL(ringWidth));
            graphics.DrawPath(&pen, &path);
        }
    }

    const std::u16string caption = Caption();
    if (!caption.empty()) {
        ScopedFont font(CreateStyledFont(font_, record.FontStyle));
        ScopedSelect selectFont(dc, font.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ToColorRef(record.FontColor));
        RECT text = rc;
        DrawTextW(dc, W(caption), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    buffer.Present();
}

}  // namespace tarnell
