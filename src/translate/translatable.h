// What the caption walk needs of a component tree. The control layer's components implement it;
// the walk itself (TranslateComponent) lives with the translation lookup and is tested over fakes.
#pragma once

#include <cstddef>
#include <string>

namespace tarnell {

class TranslatableMenuItem {
  public:
    virtual ~TranslatableMenuItem() = default;
    virtual std::u16string Caption() const = 0;
    virtual void SetCaption(const std::u16string& caption) = 0;
    virtual size_t SubItemCount() const = 0;
    virtual TranslatableMenuItem* SubItem(size_t index) = 0;
};

class TranslatableComponent {
  public:
    virtual ~TranslatableComponent() = default;

    // Components without a caption (markup label, activity indicator, image) answer false and are
    // skipped, while what they own is still visited.
    virtual bool HasCaption() const = 0;
    virtual std::u16string Caption() const = 0;
    virtual void SetCaption(const std::u16string& caption) = 0;

    // A top-level window: its own caption follows its own rule.
    virtual bool IsForm() const { return false; }
    // A popup menu answers its root item; everything else nullptr.
    virtual TranslatableMenuItem* PopupMenuRoot() { return nullptr; }

    // Owned components in ownership order (creation order, first to last).
    virtual size_t OwnedCount() const = 0;
    virtual TranslatableComponent* Owned(size_t index) = 0;
};

}  // namespace tarnell
