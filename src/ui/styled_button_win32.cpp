#include "ui/styled_button_win32.h"

#include "theme/styled_button_win32.h"

namespace tarnell {

StyledButton* TStyledSpeedButton::Button() const {
    return StyledButton::FromHandle(Hwnd());
}

void TStyledSpeedButton::SetStyle(const std::u16string& family, const std::u16string& appearance,
                                  int radius96) {
    if (!family.empty()) family_ = family;
    if (!appearance.empty()) appearance_ = appearance;
    if (radius96 > 0) radius96_ = radius96;
    if (StyledButton* button = Button()) {
        button->SetStyle(family_, u"Primary", appearance_);
        button->SetRadius(radius96_);
    }
}

void TStyledSpeedButton::SetDown(bool down) {
    down_ = down;
    if (StyledButton* button = Button()) {
        button->SetDown(down);
    }
    // The button put the others of its group up; keep their own record of it in step.
    if (down && GroupIndex() != 0 && Parent()) {
        for (TControl* sibling : Parent()->Children()) {
            auto* other = dynamic_cast<TStyledSpeedButton*>(sibling);
            if (other && other != this && other->GroupIndex() == GroupIndex()) other->down_ = false;
        }
    }
}

HWND TStyledSpeedButton::MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) {
    StyledButtonConfig config;
    config.caption = Caption();
    config.family = family_;
    config.appearance = appearance_;
    config.radius96 = radius96_;
    config.flat = Flat();
    config.groupIndex = GroupIndex();
    config.down = down_;
    HWND hwnd = StyledButton::Create(parentHwnd, rect.left, rect.top, rect.width, rect.height, config);
    if (hwnd && !visibleFlag) ShowWindow(hwnd, SW_HIDE);
    return hwnd;
}

void TStyledSpeedButton::AfterHandleCreated() {
    if (StyledButton* button = Button()) {
        button->SetStyle(family_, u"Primary", appearance_);
        button->SetOnClick([this](StyledButton& clicked) {
            down_ = clicked.Down();
            if (down_ && GroupIndex() != 0) SetDown(true);  // siblings learn that they are up
            Click();
        });
    }
}

void TStyledSpeedButton::CaptionChanged() {
    if (StyledButton* button = Button()) button->SetCaption(Caption());
}

}  // namespace tarnell
