// FitLabelFont for a real window: measures the label's caption (its window text) in font with GDI and,
// when the caption is wider than the label, makes the fitted font. One pass; the label's position,
// size and alignment are not touched.
#pragma once

#include <windows.h>

namespace tarnell {

// The font's size in points at dpi, as a whole number (a -59 pixel height at 96 DPI is 44 points).
int FontSizeInPoints(HFONT font, UINT dpi);

// A new font (the caller owns it, and sets it on the label) of the fitted size, or null when the caption
// fits in font as it is.
HFONT FitLabelFont(HWND label, HFONT font);

}  // namespace tarnell
