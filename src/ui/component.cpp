#include "ui/component.h"

#include "base/text.h"

namespace tarnell {

TComponent::TComponent(TComponent* owner, std::u16string name) : name_(std::move(name)), owner_(owner) {
    if (owner_) owner_->owned_.emplace_back(this);
}

TComponent::~TComponent() {
    // Last created first, so a component never outlives one it was created after and may refer to.
    while (!owned_.empty()) {
        std::unique_ptr<TComponent> last = std::move(owned_.back());
        owned_.pop_back();
        last->owner_ = nullptr;
        last.reset();
    }
    if (owner_) {
        for (auto& child : owner_->owned_) {
            if (child.get() == this) {
                (void)child.release();  // being destroyed by someone else: only forget it
            }
        }
        std::erase_if(owner_->owned_, [](const std::unique_ptr<TComponent>& c) { return !c; });
    }
}

TComponent* TComponent::FindComponent(const std::u16string& name) const {
    for (const auto& child : owned_) {
        if (EqualsAsciiNoCase(child->name_, name)) return child.get();
    }
    return nullptr;
}

void TComponent::SetCaption(const std::u16string& caption) {
    caption_ = caption;
    CaptionChanged();
}

}  // namespace tarnell
