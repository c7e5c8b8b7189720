#include "ui/markup_label_win32.h"

#include "theme/markup_label_win32.h"

namespace tarnell {

TMarkupLabel::TMarkupLabel(TComponent* owner, std::u16string name) : TControl(owner, std::move(name)) {
    SetHasCaption(false);
}

MarkupLabel* TMarkupLabel::Label() const {
    return MarkupLabel::FromHandle(Hwnd());
}

void TMarkupLabel::SetText(const std::u16string& text) {
    text_ = text;
    if (MarkupLabel* label = Label()) label->SetText(text);
}

std::u16string TMarkupLabel::PlainText() const {
    std::u16string plain;
    const MarkupLabel* label = Label();
    if (!label) return plain;
    for (const auto& line : label->Layout().lines) {
        if (!plain.empty()) plain += u' ';
        for (const auto& run : line.runs) plain += run.text;
    }
    return plain;
}

HWND TMarkupLabel::MakeWindow(HWND parentHwnd, const PixelRect& rect, DWORD visibleFlag) {
    MarkupLabelConfig config;
    config.text = text_;
    config.color = clWhite;
    // A fixed text colour on the fixed white: the system's text colour may be white (a dark scheme).
    config.fontColor = clBlack;
    // The text block sits centred between the label's top and bottom.
    config.overallVertAlign = TVertAlign::vaCenter;
    HWND hwnd = MarkupLabel::Create(parentHwnd, rect.left, rect.top, rect.width, rect.height, config);
    if (hwnd && !visibleFlag) ShowWindow(hwnd, SW_HIDE);
    return hwnd;
}

}  // namespace tarnell
