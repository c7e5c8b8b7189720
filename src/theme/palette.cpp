#include "theme/palette.h"

#include <cmath>
#include <utility>

namespace tarnell {

TUiPalette MakeUiPalette(bool highContrast, const SystemColorResolver& resolve) {
    TUiPalette palette;
    if (!highContrast) return palette;
    auto system = [&resolve](int index) { return ColorToRgb(0xFF000000u | TColor(index), resolve); };
    palette.highContrast = true;
    palette.window = system(kSysColorWindow);
    palette.windowText = system(kSysColorWindowText);
    palette.grayText = system(kSysColorGrayText);
    palette.frame = palette.windowText;
    palette.highlight = system(kSysColorHighlight);
    palette.highlightText = system(kSysColorHighlightText);
    palette.hotTrack = system(kSysColorHotLight);
    palette.buttonFace = system(kSysColorBtnFace);
    palette.buttonText = system(kSysColorBtnText);
    return palette;
}

TStyledButtonAttributes PaletteAttributes(const TStyledButtonAttributes& record, TStyledButtonState state,
                                          const TUiPalette& palette) {
    if (!palette.highContrast) return record;
    TStyledButtonAttributes out = record;
    switch (state) {
        case TStyledButtonState::bsmPressed:
            out.ButtonDrawStyle = TButtonDrawStyle::btnSolid;
            out.ButtonColor = out.BorderColor = palette.highlight;
            out.FontColor = palette.highlightText;
            break;
        case TStyledButtonState::bsmHot:
            // A border even where the family draws none: hovering must show without a fill colour.
            out.ButtonDrawStyle = TButtonDrawStyle::btnClear;
            out.BorderDrawStyle = TBorderDrawStyle::brdSolid;
            out.ButtonColor = palette.window;
            out.BorderColor = out.FontColor = palette.hotTrack;
            break;
        case TStyledButtonState::bsmDisabled:
            out.ButtonDrawStyle = TButtonDrawStyle::btnClear;
            out.ButtonColor = palette.window;
            out.BorderColor = out.FontColor = palette.grayText;
            break;
        case TStyledButtonState::bsmNormal:
        case TStyledButtonState::bsmSelected:
            out.ButtonDrawStyle = TButtonDrawStyle::btnClear;
            out.ButtonColor = palette.window;
            out.BorderColor = out.FontColor = palette.windowText;
            break;
    }
    return out;
}

TColor FocusRingColor(const TUiPalette& palette) {
    return palette.windowText;
}

namespace {

double Linear(uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(TColor c) {
    return 0.2126 * Linear(RedOf(c)) + 0.7152 * Linear(GreenOf(c)) + 0.0722 * Linear(BlueOf(c));
}

}  // namespace

double ContrastRatio(TColor a, TColor b) {
    double la = Luminance(a), lb = Luminance(b);
    if (la < lb) std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

}  // namespace tarnell
