// Win32 glue: containers. A panel (no bevel, its parent's colour), a group box with its frame and
// caption, and a card panel that shows exactly one of its cards.
#pragma once

#include <vector>

#include "ui/control_win32.h"

namespace tarnell {

class TPanel : public TContainer {
  public:
    TPanel(TComponent* owner, std::u16string name) : TContainer(owner, std::move(name)) { SetCaption(u""); }
};

class TGroupBox : public TContainer {
  public:
    using TContainer::TContainer;

  protected:
    void Paint(HDC dc, const RECT& client) override;
};

class TCardPanel;

// A card fills its card panel; its caption is never drawn.
class TCard : public TContainer {
  public:
    TCard(TComponent* owner, std::u16string name, TCardPanel* panel);
    ~TCard() override;
    int CardIndex() const { return index_; }

  private:
    int index_ = 0;
};

class TCardPanel : public TContainer {
  public:
    using TContainer::TContainer;
    int CardCount() const { return int(cards_.size()); }
    TCard* Card(int index) const {
        return index >= 0 && index < CardCount() ? cards_[size_t(index)] : nullptr;
    }
    int ActiveCardIndex() const { return active_; }
    // Shows the card at `index` and hides the others; an index outside the cards changes nothing.
    void SetActiveCardIndex(int index);
    // Every card fills the card panel, whatever its own bounds say.
    PixelRect PlaceChild(const Rect96& bounds, int dpi) const override;

  private:
    friend class TCard;
    int AddCard(TCard* card);
    void RemoveCard(TCard* card);
    std::vector<TCard*> cards_;
    int active_ = 0;
};

}  // namespace tarnell
