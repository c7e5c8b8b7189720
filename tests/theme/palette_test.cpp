#include "theme/palette.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <map>
#include <vector>

using namespace tarnell;

namespace {

// Windows' "High Contrast Black" scheme, as GetSysColor answers it.
const std::map<int, TColor> kHighContrastBlack{
    {5, 0x00000000},   // COLOR_WINDOW
    {8, 0x00FFFFFF},   // COLOR_WINDOWTEXT
    {13, 0x00FFEB1A},  // COLOR_HIGHLIGHT #1AEBFF
    {14, 0x00000000},  // COLOR_HIGHLIGHTTEXT
    {15, 0x00000000},  // COLOR_BTNFACE
    {17, 0x003FF23F},  // COLOR_GRAYTEXT #3FF23F
    {18, 0x00FFFFFF},  // COLOR_BTNTEXT
    {26, 0x0000FFFF},  // COLOR_HOTLIGHT #FFFF00
};

TColor HighContrastBlack(int index) {
    const auto found = kHighContrastBlack.find(index);
    REQUIRE(found != kHighContrastBlack.end());
    return found->second;
}

}  // namespace

TEST_CASE("palette: with high contrast off the colours are fixed, whatever the system scheme says") {
    // A dark scheme that is not high contrast (or high contrast that the system does not report) must not
    // leak in: white text on the fixed white background was the fault.
    const TUiPalette palette = MakeUiPalette(false, HighContrastBlack);
    CHECK_FALSE(palette.highContrast);
    CHECK(palette.window == 0x00FFFFFF);
    CHECK(palette.windowText == 0x00000000);
    CHECK(palette.frame == 0x00DCDCDC);
    CHECK(ContrastRatio(palette.windowText, palette.window) >= 4.5);
}

TEST_CASE("palette: with high contrast on every colour is the system's") {
    const TUiPalette p = MakeUiPalette(true, HighContrastBlack);
    CHECK(p.highContrast);
    CHECK(p.window == 0x00000000);
    CHECK(p.windowText == 0x00FFFFFF);
    CHECK(p.grayText == 0x003FF23F);
    CHECK(p.frame == 0x00FFFFFF);
    CHECK(p.highlight == 0x00FFEB1A);
    CHECK(p.highlightText == 0x00000000);
    CHECK(p.hotTrack == 0x0000FFFF);
    CHECK(p.buttonFace == 0x00000000);
    CHECK(p.buttonText == 0x00FFFFFF);
}

TEST_CASE("palette: styled button records in high contrast, every appearance and state") {
    const TUiPalette p = MakeUiPalette(true, HighContrastBlack);
    struct Expected {
        TStyledButtonState state;
        TButtonDrawStyle fill;
        TColor fillColor;  // what shows under the caption: the fill, or the window behind a clear button
        TColor font;
        TColor border;
    };
    const Expected table[] = {
        {TStyledButtonState::bsmNormal, TButtonDrawStyle::btnClear, 0x00000000, 0x00FFFFFF, 0x00FFFFFF},
        {TStyledButtonState::bsmPressed, TButtonDrawStyle::btnSolid, 0x00FFEB1A, 0x00000000, 0x00FFEB1A},
        {TStyledButtonState::bsmSelected, TButtonDrawStyle::btnClear, 0x00000000, 0x00FFFFFF, 0x00FFFFFF},
        {TStyledButtonState::bsmHot, TButtonDrawStyle::btnClear, 0x00000000, 0x0000FFFF, 0x0000FFFF},
        {TStyledButtonState::bsmDisabled, TButtonDrawStyle::btnClear, 0x00000000, 0x003FF23F, 0x003FF23F},
    };
    for (const char16_t* appearance : {u"Normal", u"Header", u"Outline"}) {
        TStyledButtonRecords r;
        TVorbeckButtonStyles().FillAttributes(u"Vorbeck", u"Primary", appearance, r[0], r[1], r[2], r[3],
                                              r[4]);
        for (const Expected& e : table) {
            CAPTURE(int(e.state));
            const TStyledButtonAttributes& family = r[size_t(e.state)];
            const TStyledButtonAttributes a = PaletteAttributes(family, e.state, p);
            CHECK(a.ButtonDrawStyle == e.fill);
            CHECK(a.ButtonColor == e.fillColor);
            CHECK(a.FontColor == e.font);
            CHECK(a.BorderColor == e.border);
            CHECK(ContrastRatio(a.FontColor, e.fillColor) >= 4.5);
            // Shape and font are the family's.
            CHECK(a.DrawType == family.DrawType);
            CHECK(a.BorderWidth == family.BorderWidth);
            CHECK(a.FontStyle == family.FontStyle);
            // High contrast off: the family's record as it is.
            CHECK(PaletteAttributes(family, e.state, MakeUiPalette(false)) == family);
        }
    }
}

TEST_CASE("ContrastRatio: the WCAG figures") {
    struct Case {
        TColor a, b;
        double ratio;
    };
    const Case cases[] = {
        {0x00000000, 0x00FFFFFF, 21.0}, {0x00FFFFFF, 0x00000000, 21.0},
        {0x00808080, 0x00808080, 1.0},  {0x00777777, 0x00FFFFFF, 4.48},  // the classic just-below-AA gray
        {0x00767676, 0x00FFFFFF, 4.54},
    };
    for (const Case& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(ContrastRatio(c.a, c.b) == doctest::Approx(c.ratio).epsilon(0.002));
    }
}

TEST_CASE("palette: the focus ring stands out from the background and from every fill a button shows") {
    // The fills typed from the style family's tables: the accent, its lighter hot and selected fill, white
    // (clear buttons and the normal appearance's disabled record); and with high contrast the system's.
    struct Case {
        const char* scheme;
        TUiPalette palette;
        std::vector<TColor> fills;
    };
    const Case cases[] = {
        {"default", MakeUiPalette(false), {0x00DD843D, 0x00E09050, 0x00FFFFFF}},
        {"high contrast black", MakeUiPalette(true, HighContrastBlack), {0x00000000, 0x00FFEB1A}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.scheme);
        const TColor ring = FocusRingColor(c.palette);
        CHECK(ContrastRatio(ring, c.palette.window) >= 3.0);  // the background and the gap inside the ring
        // Every fill the family's records (high contrast applied) draw in any appearance and state.
        for (const char16_t* appearance : {u"Normal", u"Header", u"Outline"}) {
            TStyledButtonRecords r;
            TVorbeckButtonStyles().FillAttributes(u"Vorbeck", u"Primary", appearance, r[0], r[1], r[2], r[3],
                                                  r[4]);
            for (size_t s = 0; s < r.size(); ++s) {
                const TStyledButtonAttributes a = PaletteAttributes(r[s], TStyledButtonState(s), c.palette);
                if (a.ButtonDrawStyle != TButtonDrawStyle::btnSolid) continue;
                CAPTURE(int(s));
                CHECK(std::find(c.fills.begin(), c.fills.end(), a.ButtonColor) != c.fills.end());
            }
        }
        if (c.palette.highContrast) continue;  // high contrast: the gap keeps the ring off the fill
        for (TColor fill : c.fills) {
            CAPTURE(fill);
            CHECK(ContrastRatio(ring, fill) >= 3.0);
        }
    }
}
