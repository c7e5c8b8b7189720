#include "theme/color.h"

#include "base/dpi_scale.h"

#include <algorithm>
#include <cstdlib>

namespace tarnell {

TColor DefaultSystemColor(int index) {
    switch (index) {
        case 5:
            return clWhite;  // COLOR_WINDOW
        case 8:
            return clBlack;  // COLOR_WINDOWTEXT
        case 13:
            return RgbColor(0x00, 0x78, 0xD7);  // COLOR_HIGHLIGHT
        case 14:
            return clWhite;  // COLOR_HIGHLIGHTTEXT
        case 15:
            return RgbColor(0xF0, 0xF0, 0xF0);  // COLOR_BTNFACE
        case 16:
            return RgbColor(0xA0, 0xA0, 0xA0);  // COLOR_BTNSHADOW
        case 17:
            return RgbColor(0x6D, 0x6D, 0x6D);  // COLOR_GRAYTEXT
        case 18:
            return clBlack;  // COLOR_BTNTEXT
        default:
            return clBlack;
    }
}

TColor ColorToRgb(TColor color, const SystemColorResolver& resolve) {
    if (!IsSystemColor(color)) return color;
    const int index = SystemColorIndex(color);
    return (resolve ? resolve(index) : DefaultSystemColor(index)) & 0x00FFFFFF;
}

namespace {
uint8_t Lighten(uint8_t c, int percent) {
    const int value = c + MulDivRound(255 - c, percent, 100);
    return uint8_t(std::clamp(value, 0, 255));
}
}  // namespace

TColor LightenByPercent(TColor color, int percent, const SystemColorResolver& resolve) {
    const TColor rgb = ColorToRgb(color, resolve);
    return RgbColor(Lighten(RedOf(rgb), percent), Lighten(GreenOf(rgb), percent),
                    Lighten(BlueOf(rgb), percent));
}

TColor ToGrayscale(TColor color) {
    if (color == clNone || color == clDefault) return color;
    // The weights are exact in thousandths, so the luma is computed in integers: a true half stays a half
    // and rounds to even, whatever floating-point width the compiler offers.
    const int64_t thousandths =
        299 * int64_t(RedOf(color)) + 587 * int64_t(GreenOf(color)) + 114 * int64_t(BlueOf(color));
    int64_t v = thousandths / 1000;
    const int64_t rest = thousandths % 1000;
    if (rest > 500 || (rest == 500 && (v % 2) != 0)) ++v;
    const uint8_t g = uint8_t(v);
    return (color & 0xFF000000u) | RgbColor(g, g, g);
}

}  // namespace tarnell
