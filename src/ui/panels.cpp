#include "ui/panels.h"

#include "base/wide.h"

namespace tarnell {

void TGroupBox::Paint(HDC dc, const RECT& client) {
    TContainer::Paint(dc, client);
    ScopedSelect font(dc, CurrentFont());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int dpi = Dpi();
    // The frame runs through the middle of the caption's line, the caption interrupts it on the left.
    const int frameTop = tm.tmHeight / 2;
    ScopedGdiObject pen(CreatePen(PS_SOLID, 1, RGB(0xDC, 0xDC, 0xDC)));
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
        SetTextColor(dc, GetSysColor(IsWindowEnabled(Hwnd()) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
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

void TCardPanel::SetActiveCardIndex(int index) {
    if (index < 0 || index >= CardCount()) return;
    active_ = index;
    // Show the new card before hiding the old one, so nothing behind them flashes through.
    cards_[size_t(index)]->SetVisible(true);
    for (int i = 0; i < CardCount(); ++i) {
        if (i != index) cards_[size_t(i)]->SetVisible(false);
    }
}

}  // namespace tarnell
