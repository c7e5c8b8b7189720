// The colours the window paints with. With high contrast off every colour is fixed: text is drawn in a
// fixed dark colour on the fixed white background, so a dark system scheme cannot make it vanish. With
// high contrast on every colour is the system's, and the styled buttons' records follow it.
#pragma once

#include "theme/button_styles.h"
#include "theme/color.h"

namespace tarnell {

// System colour indexes used here (the values of Windows' COLOR_* constants).
inline constexpr int kSysColorWindow = 5;
inline constexpr int kSysColorWindowText = 8;
inline constexpr int kSysColorHighlight = 13;
inline constexpr int kSysColorHighlightText = 14;
inline constexpr int kSysColorBtnFace = 15;
inline constexpr int kSysColorGrayText = 17;
inline constexpr int kSysColorBtnText = 18;
inline constexpr int kSysColorHotLight = 26;

// Every field is a plain colour.
struct TUiPalette {
    bool highContrast = false;
    TColor window = clWhite;      // background of the window, its panels, cards and labels
    TColor windowText = clBlack;  // text on that background
    TColor grayText = clGray;     // disabled text
    TColor frame = 0x00DCDCDC;    // the group boxes' frames
    TColor highlight = AccentColor;
    TColor highlightText = clWhite;
    TColor hotTrack = AccentColor;
    TColor buttonFace = clWhite;
    TColor buttonText = clBlack;

    friend bool operator==(const TUiPalette&, const TUiPalette&) = default;
};

// The fixed colours, or (highContrast) the system's, each asked from resolve.
TUiPalette MakeUiPalette(bool highContrast, const SystemColorResolver& resolve = {});

// A styled button's record for `state` as high contrast draws it: no fill and text and border in the
// window-text colour, down in the highlight colours, hot in the hot-track colour, disabled in gray text.
// Shape, width and font style stay the family's; with high contrast off the record comes back unchanged.
TStyledButtonAttributes PaletteAttributes(const TStyledButtonAttributes& record, TStyledButtonState state,
                                          const TUiPalette& palette);

// The keyboard focus ring: a line kFocusRingWidth96 wide round the control's edge, then a gap of
// kFocusRingGap96 in the background colour, then the control's own fill and border, made smaller by both.
// So the ring always lies between the background and that gap, and its colour must stand out from the
// background and from every fill a button shows (black is 21:1 on white, 5.5:1 on the accent and 6.4:1 on
// its lighter hot fill); in high contrast it is the system's window text, which the system keeps readable
// on its window colour. Drawn only once the keyboard was used: a mouse user never sees it.
inline constexpr int kFocusRingWidth96 = 2;
inline constexpr int kFocusRingGap96 = 1;
TColor FocusRingColor(const TUiPalette& palette);

// WCAG contrast ratio of two plain colours, from 1 (equal) to 21 (black on white).
double ContrastRatio(TColor a, TColor b);

}  // namespace tarnell
