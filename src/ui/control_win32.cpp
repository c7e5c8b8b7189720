#include "ui/control_win32.h"

#include <algorithm>

#include "base/accessible_win32.h"
#include "base/bench_phases_win32.h"
#include "base/offscreen_win32.h"
#include "base/reading_order.h"
#include "base/wide.h"
#include "theme/gdi_win32.h"
#include "theme/system_colors_win32.h"
#include "ui/form_win32.h"

namespace tarnell {

namespace {

const wchar_t kControlProp[] = L"TarnellControl";

// A control that is hidden or disabled while it, or a control on it, holds the keyboard focus hands the
// focus to its form, as the toolkit does: otherwise keys would still reach a control the user cannot see
// or use (a hidden check box toggles on Space).
// The form remembers a control that Tab had given the focus, which takes it back when it can be used again
// (the run switch is disabled while busy; a keyboard user finds the focus on it afterwards). Meanwhile the
// form's stand-in for it, if shown, holds the focus (the busy indicator, which says what is going on).
void GiveFocusToForm(HWND hwnd, TForm* form) {
    HWND focus = GetFocus();
    if (!focus || (focus != hwnd && !IsChild(hwnd, focus))) return;
    HWND target = form ? form->Hwnd() : nullptr;
    if (form && focus == hwnd) {
        form->FocusGivenUp(hwnd);
        HWND standIn = form->FocusStandIn(hwnd);
        if (standIn && IsWindowVisible(standIn) && IsWindowEnabled(standIn)) target = standIn;
    }
    SetFocus(target && target != hwnd ? target : nullptr);
}

}  // namespace

ScopedGdiObject CreateFontForDpi(const TFontSpec& desc, int dpi) {
    LOGFONTW lf{};
    lf.lfHeight = ScaleForDpi(desc.height96, dpi);
    lf.lfWeight = desc.bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = desc.underline ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = desc.antialiased ? ANTIALIASED_QUALITY : DEFAULT_QUALITY;
    const std::wstring face = ToWide(desc.face);
    wcsncpy_s(lf.lfFaceName, face.c_str(), _TRUNCATE);
    BenchCostScope fonts(BenchCost::Fonts);
    return ScopedGdiObject(CreateFontIndirectW(&lf));
}

// TControl ---------------------------------------------------------------------------------------------

TControl::TControl(TComponent* owner, std::u16string name) : TComponent(owner, std::move(name)) {}

TControl::~TControl() {
    if (parent_) parent_->RemoveChild(this);
    // A window of our own class is gone by now (TWindow ends it first); a standard window still carries
    // our mark unless it went with its parent. A handle without the mark is not ours any more.
    if (hwnd_ && IsWindow(hwnd_) && FromHwnd(hwnd_) == this) {
        RemovePropW(hwnd_, kControlProp);
        DestroyWindow(hwnd_);
    }
}

void TControl::SetParent(TContainer* parent) {
    if (parent_ == parent) return;
    if (parent_) parent_->RemoveChild(this);
    parent_ = parent;
    if (parent_) {
        parent_->AddChild(this);
        if (parent_->HandleAllocated() && !hwnd_) CreateHandle(parent_->Hwnd());
    }
}

TForm* TControl::Form() const {
    const TControl* c = this;
    while (c->parent_) c = c->parent_;
    return const_cast<TForm*>(dynamic_cast<const TForm*>(c));
}

int TControl::Dpi() const {
    const TForm* form = Form();
    return form ? form->CurrentDpi() : kDefaultDpi;
}

PixelRect TControl::BoundsPixels() const {
    return parent_ ? parent_->PlaceChild(bounds96_, Dpi()) : ScaleRect(bounds96_, Dpi());
}

void TControl::SetBounds96(const Rect96& bounds) {
    bounds96_ = bounds;
    if (hwnd_) {
        const PixelRect r = BoundsPixels();
        SetWindowPos(hwnd_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (!hwnd_) return;
    if (!visible) GiveFocusToForm(hwnd_, Form());
    ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    if (visible && Form()) Form()->FocusAvailableAgain(hwnd_);
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (hwnd_) {
        if (!enabled) GiveFocusToForm(hwnd_, Form());
        EnableWindow(hwnd_, enabled ? TRUE : FALSE);
        InvalidateRect(hwnd_, nullptr, TRUE);
        if (enabled && Form()) Form()->FocusAvailableAgain(hwnd_);
    }
}

void TControl::SetOwnFont(const TFontSpec& font) {
    ownFont_ = true;
    fontSpec_ = font;
    font_.reset();
    fontDpi_ = 0;
    RefreshFont();
}

HFONT TControl::CurrentFont() const {
    if (ownFont_) return static_cast<HFONT>(font_.get());
    const TForm* form = Form();
    return form ? form->FormFont() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void TControl::RefreshFont() {
    if (!hwnd_) return;
    if (ownFont_ && (fontDpi_ != Dpi() || !font_)) {
        font_ = CreateFontForDpi(fontSpec_, Dpi());
        fontDpi_ = Dpi();
    }
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(CurrentFont()), TRUE);
}

void TControl::CaptionChanged() {
    if (hwnd_ && HasCaption()) {
        SetWindowTextW(hwnd_, W(Caption()));
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

void TControl::CreateHandle(HWND parentHwnd) {
    if (hwnd_) return;
    BenchCostScope windows(BenchCost::ControlWindows);
    hwnd_ = MakeWindow(parentHwnd, BoundsPixels(), visible_ ? WS_VISIBLE : 0);
    if (!hwnd_) return;
    SetPropW(hwnd_, kControlProp, this);
    if (controlId_) SetWindowLongPtrW(hwnd_, GWLP_ID, controlId_);
    if (!enabled_) EnableWindow(hwnd_, FALSE);
    RefreshFont();
    AfterHandleCreated();
}

void TControl::ApplyDpi() {
    if (!hwnd_) return;
    const PixelRect r = BoundsPixels();
    SetWindowPos(hwnd_, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    RefreshFont();
}

TControl* TControl::FromHwnd(HWND hwnd) {
    return hwnd ? static_cast<TControl*>(GetPropW(hwnd, kControlProp)) : nullptr;
}

HBRUSH TControl::OnCtlColor(HDC dc) {
    // The text colour goes with the background the control sits on (fixed white, or the high contrast
    // window colour); the system's text colour on the fixed white vanished in a dark scheme.
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorRef(CurrentUiPalette().windowText));
    return parent_ ? parent_->BackgroundBrush() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

// TCustomControl -----------------------------------------------------------------------------------------

HWND TCustomControl::MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) {
    const std::wstring title = ToWide(Caption());
    CreateBound(ClassName(), 0, WS_CHILD | WS_CLIPSIBLINGS | ExtraStyle() | visibleFlag, title.c_str(),
                rect.left, rect.top, rect.width, rect.height, parentHwnd, nullptr, CS_DBLCLKS, nullptr);
    return Handle();
}

LRESULT TCustomControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;  // painted with the rest, off-screen
        case WM_PAINT: {
            ScopedPaint paint(Handle());
            RECT client;
            GetClientRect(Handle(), &client);
            if (OffscreenBuffer buffer(paint.get(), client); buffer) {
                Paint(buffer.Dc(), client);
                buffer.Present();
            }
            return 0;
        }
        case WM_PRINTCLIENT: {
            RECT client;
            GetClientRect(Handle(), &client);
            Paint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_SETCURSOR:
            if (Cursor() && LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(Cursor());
                return TRUE;
            }
            break;
        case WM_SETFONT:
            InvalidateRect(Handle(), nullptr, FALSE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(CurrentFont());
        case WM_UPDATEUISTATE:
            if (HIWORD(wParam) & UISF_HIDEFOCUS) {
                if (LOWORD(wParam) == UIS_SET) hideFocus_ = true;
                if (LOWORD(wParam) == UIS_CLEAR) hideFocus_ = false;
                InvalidateRect(Handle(), nullptr, FALSE);
            }
            break;
        case WM_QUERYUISTATE:
            return hideFocus_ ? UISF_HIDEFOCUS : 0;
        case WM_SETFOCUS:
            InvalidateRect(Handle(), nullptr, FALSE);
            NotifyAccessible(EVENT_OBJECT_FOCUS, Handle());
            break;
        case WM_KILLFOCUS:
            InvalidateRect(Handle(), nullptr, FALSE);
            break;
        case WM_KEYDOWN:
            if (wParam == VK_TAB && !IsForm()) {
                if (TForm* form = Form()) return SendMessageW(form->Hwnd(), msg, wParam, lParam);
            }
            break;
        default:
            break;
    }
    return DefaultProc(msg, wParam, lParam);
}

bool TCustomControl::FocusCueShown() const {
    return Hwnd() && GetFocus() == Hwnd() && !hideFocus_;
}

void TCustomControl::OnHandleDestroyed() {
    if (Hwnd()) RemovePropW(Hwnd(), kControlProp);
    ForgetHandle();
}

void TCustomControl::Paint(HDC dc, const RECT& client) {
    HBRUSH brush = Parent() ? Parent()->BackgroundBrush() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(dc, &client, brush);
}

// TContainer ---------------------------------------------------------------------------------------------

TContainer::~TContainer() {
    for (TControl* child : children_) child->parent_ = nullptr;
}

void TContainer::AddChild(TControl* child) {
    if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
}

void TContainer::RemoveChild(TControl* child) {
    std::erase(children_, child);
}

void TContainer::SetColor(COLORREF color) {
    color_ = color;
    brush_.reset();
    if (Hwnd()) InvalidateRect(Hwnd(), nullptr, TRUE);
}

COLORREF TContainer::PaintColor() const {
    const TUiPalette palette = CurrentUiPalette();
    return palette.highContrast ? ToColorRef(palette.window) : color_;
}

HBRUSH TContainer::BackgroundBrush() {
    const COLORREF color = PaintColor();
    if (!brush_ || brushColor_ != color) {
        brush_.reset(CreateSolidBrush(color));
        brushColor_ = color;
    }
    return static_cast<HBRUSH>(brush_.get());
}

void TContainer::ApplyDpi() {
    TControl::ApplyDpi();
    for (TControl* child : children_) child->ApplyDpi();
}

void TContainer::CreateChildHandles() {
    std::vector<HWND> windows;
    std::vector<PixelRect> places;
    for (TControl* child : children_) {
        child->CreateHandle(Hwnd());
        if (!child->Hwnd()) continue;
        windows.push_back(child->Hwnd());
        const Rect96& b = child->Bounds96();
        places.push_back(PixelRect{b.left, b.top, b.width, b.height});
    }
    // The z-order is the reading order, top first: it is the order in which UI Automation and the
    // system's accessible objects list the windows. A control that lies on a sibling (the indicator on
    // the run switch) goes directly above it instead, so that it is drawn on it.
    const std::vector<size_t> order = ReadingOrder(places);
    HWND after = HWND_TOP;
    for (size_t i : order) {
        SetWindowPos(windows[i], after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = windows[i];
    }
    for (size_t i = 0; i < windows.size(); ++i) {
        for (size_t j = 0; j < windows.size(); ++j) {
            if (i == j || places[i] == places[j] || !LiesInside(places[i], places[j])) continue;
            HWND above = GetWindow(windows[j], GW_HWNDPREV);
            if (above == windows[i]) break;
            SetWindowPos(windows[i], above ? above : HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            break;
        }
    }
}

LRESULT TContainer::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (TControl* child = FromHwnd(reinterpret_cast<HWND>(lParam))) {
                child->OnReflectCommand(HIWORD(wParam));
                return 0;
            }
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (TControl* child = item ? FromHwnd(item->hwndItem) : nullptr) {
                if (child->OnReflectDrawItem(*item)) return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            if (TControl* child = FromHwnd(reinterpret_cast<HWND>(lParam))) {
                return reinterpret_cast<LRESULT>(child->OnCtlColor(reinterpret_cast<HDC>(wParam)));
            }
            break;
        case WM_NOTIFY: {
            // Notifications of children of ours go up until someone knows them (the form, at the top).
            HWND up = GetParent(Hwnd());
            if (up && (GetWindowLongPtrW(Hwnd(), GWL_STYLE) & WS_CHILD))
                return SendMessageW(up, msg, wParam, lParam);
            break;
        }
        default:
            break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam);
}

void TContainer::Paint(HDC dc, const RECT& client) {
    FillRect(dc, &client, BackgroundBrush());
}

}  // namespace tarnell
