#include "ui/panels_win32.h"

#include "base/offscreen_win32.h"
#include "base/wide.h"
#include "theme/gdi_win32.h"
#include "theme/system_colors_win32.h"

namespace tarnell {

void TGroupBox::Paint(HDC dc, const RECT& client) {
    TContainer::Paint(dc, client);
    ScopedSelect font(dc, CurrentFont());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int dpi = Dpi();
    // The frame runs through the middle of the caption's line, the caption interrupts it on the left.
    const int frameTop = tm.tmHeight / 2;
    const TUiPalette palette = CurrentUiPalette();
    ScopedGdiObject pen(CreatePen(PS_SOLID, 1, ToColorRef(palette.frame)));
    {
        ScopedSelect selectPen(dc, pen.get());
        ScopedSelect noFill(dc, GetStockObject(NULL_BRUSH));
        const int radius = ScaleForDpi(4, dpi);
        RoundRect(dc, client.left, client.top + frameTop, client.right, client.bottom, radius, radius);
    }
    const std::wstring text = ToWide(Caption());
    if (!text.empty()) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        const int gap = ScaleForDpi(2, dpi);
        RECT band{ScaleForDpi(8, dpi), 0, ScaleForDpi(8, dpi) + extent.cx + 2 * gap, tm.tmHeight};
        FillRect(dc, &band, BackgroundBrush());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ToColorRef(IsWindowEnabled(Hwnd()) ? palette.windowText : palette.grayText));
        TextOutW(dc, band.left + gap, 0, text.c_str(), int(text.size()));
    }
}

TCard::TCard(TComponent* owner, std::u16string name, TCardPanel* panel) : TContainer(owner, std::move(name)) {
    if (panel) {
        index_ = panel->AddCard(this);
        SetParent(panel);
        SetVisible(index_ == panel->ActiveCardIndex());
    }
}

TCard::~TCard() {
    if (auto* panel = dynamic_cast<TCardPanel*>(Parent())) panel->RemoveCard(this);
}

void TCardPanel::RemoveCard(TCard* card) {
    std::erase(cards_, card);
}

int TCardPanel::AddCard(TCard* card) {
    cards_.push_back(card);
    return int(cards_.size()) - 1;
}

PixelRect TCardPanel::PlaceChild(const Rect96&, int) const {
    const PixelRect own = BoundsPixels();
    return {0, 0, own.width, own.height};
}

namespace {

// Paints `hwnd`'s client area into `target` at (x, y), cut to `clip`, and then, bottom of the z-order
// first, every child window that is shown. Each window paints into a bitmap of its own at the origin
// (standard controls clip their painting to their client rectangle, which a moved origin would not follow).
void PrintWindowTree(HWND hwnd, HDC target, int x, int y, const RECT& clip) {
    RECT client;
    GetClientRect(hwnd, &client);
    const RECT placed{x, y, x + client.right, y + client.bottom};
    RECT visible;
    if (!IntersectRect(&visible, &placed, &clip)) return;
    if (OffscreenBuffer own(target, placed); own) {
        SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own.Dc()), PRF_CLIENT | PRF_ERASEBKGND);
        own.Present(visible);
    }
    HWND top = GetWindow(hwnd, GW_CHILD);
    HWND child = top ? GetWindow(top, GW_HWNDLAST) : nullptr;
    for (; child; child = GetWindow(child, GW_HWNDPREV)) {
        if (!(GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE)) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&r), 2);
        PrintWindowTree(child, target, x + r.left, y + r.top, visible);
    }
}

}  // namespace

void TCardPanel::SetActiveCardIndex(int index) {
    if (index < 0 || index >= CardCount()) return;
    active_ = index;
    // The screen must show the old card or the new one whole. Shown piece by piece, each window painting
    // itself, the new card's frames appeared before their contents and the old title through the gaps.
    // So drawing is held off while the cards change, the whole panel is composed off-screen and put on
    // the screen in one copy, and the windows it covers are then up to date. (WM_SETREDRAW on would show
    // a hidden panel, so a panel that is not on screen just switches.)
    const bool onScreen = Hwnd() && IsWindowVisible(Hwnd());
    if (onScreen) SendMessageW(Hwnd(), WM_SETREDRAW, FALSE, 0);
    cards_[size_t(index)]->SetVisible(true);
    for (int i = 0; i < CardCount(); ++i) {
        if (i != index) cards_[size_t(i)]->SetVisible(false);
    }
    if (!onScreen) return;
    SendMessageW(Hwnd(), WM_SETREDRAW, TRUE, 0);

    RECT client;
    GetClientRect(Hwnd(), &client);
    bool composed = false;
    {
        // Over the children as well.
        ScopedWindowDc screen(Hwnd(), GetDCEx(Hwnd(), nullptr, DCX_CACHE | DCX_CLIPSIBLINGS));
        if (OffscreenBuffer memory(screen.get(), client); memory) {
            PrintWindowTree(Hwnd(), memory.Dc(), 0, 0, client);
            composed = memory.Present();
        }
    }
    // What the copy put there needs no second paint; without a copy every window paints itself.
    RedrawWindow(Hwnd(), nullptr, nullptr,
                 composed ? (RDW_VALIDATE | RDW_NOERASE | RDW_ALLCHILDREN)
                          : (RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN));
}

}  // namespace tarnell
