// The component model: a name, an owner that frees what it owns, the owned list in creation order,
// and an optional caption. The caption walk of the translation module runs over exactly this.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "translate/translatable.h"

namespace tarnell {

class TComponent : public TranslatableComponent {
  public:
    // The owner takes the new component into its owned list and frees it with itself.
    TComponent(TComponent* owner, std::u16string name);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::u16string& Name() const { return name_; }
    TComponent* Owner() const { return owner_; }

    // Creates a component owned by this one; the pointer stays valid until this one is freed.
    template <typename T, typename... Args>
    T* Make(Args&&... args) {
        return new T(this, std::forward<Args>(args)...);  // the constructor registers it with us
    }

    // Owned component by name (ASCII letters compared without regard to case), or nullptr.
    TComponent* FindComponent(const std::u16string& name) const;

    // TranslatableComponent
    bool HasCaption() const override { return hasCaption_; }
    std::u16string Caption() const override { return caption_; }
    void SetCaption(const std::u16string& caption) override;
    size_t OwnedCount() const override { return owned_.size(); }
    TranslatableComponent* Owned(size_t index) override { return owned_.at(index).get(); }
    TComponent* OwnedComponent(size_t index) const { return owned_.at(index).get(); }

  protected:
    // Controls without a caption (markup label, indicator, image) switch it off in their constructor.
    void SetHasCaption(bool hasCaption) { hasCaption_ = hasCaption; }
    // Called after the caption text changed, so a control can show it.
    virtual void CaptionChanged() {}

  private:
    std::u16string name_;
    TComponent* owner_;
    std::vector<std::unique_ptr<TComponent>> owned_;
    std::u16string caption_;
    bool hasCaption_ = true;
};

}  // namespace tarnell
