// A small component tree for the caption walk: components with or without a caption, forms, popup
// menus with nested items. Every caption write is logged, so tests see order and count.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "translate/translatable.h"

namespace tarnell::testing {

class FakeMenuItem : public TranslatableMenuItem {
  public:
    FakeMenuItem(std::u16string caption, std::vector<std::u16string>* log)
        : caption_(std::move(caption)), log_(log) {}

    FakeMenuItem* Add(const std::u16string& caption) {
        items_.push_back(std::make_unique<FakeMenuItem>(caption, log_));
        return items_.back().get();
    }

    std::u16string Caption() const override { return caption_; }
    void SetCaption(const std::u16string& caption) override {
        log_->push_back(caption_ + u" -> " + caption);
        caption_ = caption;
    }
    size_t SubItemCount() const override { return items_.size(); }
    TranslatableMenuItem* SubItem(size_t index) override { return items_[index].get(); }

  private:
    std::u16string caption_;
    std::vector<std::u16string>* log_;
    std::vector<std::unique_ptr<FakeMenuItem>> items_;
};

class FakeComponent : public TranslatableComponent {
  public:
    enum Kind { kControl, kForm, kNoCaption, kPopupMenu };

    FakeComponent(Kind kind, std::u16string caption, std::vector<std::u16string>* log)
        : kind_(kind), caption_(std::move(caption)), log_(log) {
        if (kind_ == kPopupMenu) root_ = std::make_unique<FakeMenuItem>(u"", log_);
    }

    FakeComponent* Own(Kind kind, const std::u16string& caption) {
        owned_.push_back(std::make_unique<FakeComponent>(kind, caption, log_));
        return owned_.back().get();
    }
    FakeMenuItem* Root() { return root_.get(); }
    // The caption as stored, also for components that do not publish one.
    const std::u16string& Stored() const { return caption_; }
    mutable int captionReads = 0;

    bool HasCaption() const override { return kind_ == kControl || kind_ == kForm; }
    std::u16string Caption() const override {
        ++captionReads;
        return caption_;
    }
    void SetCaption(const std::u16string& caption) override {
        log_->push_back(caption_ + u" -> " + caption);
        caption_ = caption;
    }
    bool IsForm() const override { return kind_ == kForm; }
    TranslatableMenuItem* PopupMenuRoot() override { return root_.get(); }
    size_t OwnedCount() const override { return owned_.size(); }
    TranslatableComponent* Owned(size_t index) override { return owned_[index].get(); }

  private:
    Kind kind_;
    std::u16string caption_;
    std::vector<std::u16string>* log_;
    std::unique_ptr<FakeMenuItem> root_;
    std::vector<std::unique_ptr<FakeComponent>> owned_;
};

// A main-window-like tree, captions authored in Korean as the program stores them.
struct FakeWindow {
    std::vector<std::u16string> log;
    FakeComponent form{FakeComponent::kForm, u"타르넬", &log};
    FakeComponent* title = form.Own(FakeComponent::kControl, u"타르넬");
    FakeComponent* start = form.Own(FakeComponent::kControl, u"실행하기");
    FakeComponent* markup = form.Own(FakeComponent::kNoCaption, u"버전");
    FakeComponent* underMarkup = markup->Own(FakeComponent::kControl, u"처음화면");
    FakeComponent* group = form.Own(FakeComponent::kControl, u"네트워크 아답터 정보");
    FakeComponent* option = group->Own(FakeComponent::kControl, u"tcpnodelay");
    FakeComponent* empty = form.Own(FakeComponent::kControl, u"");
};

}  // namespace tarnell::testing
