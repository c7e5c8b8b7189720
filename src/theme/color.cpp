#include "theme/color.h"

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

int32_t MulDivRound(int32_t number, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return -1;
    const int64_t product = int64_t(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t p = product < 0 ? -product : product;
    const int64_t d = denominator < 0 ? -int64_t(denominator) : int64_t(denominator);
    const int64_t q = (2 * p + d) / (2 * d);  // halves away from zero on the magnitude
    const int64_t result = negative ? -q : q;
    if (result > INT32_MAX || result < INT32_MIN) return -1;
    return int32_t(result);
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
