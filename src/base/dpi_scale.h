// Every position and size is written at 96 DPI and scaled to the window's DPI here, the way MulDiv
// rounds (to nearest, halves away from zero), so native code and the Win32 layer agree to the pixel.
#pragma once

#include <cstdint>

namespace tarnell {

inline constexpr int kDefaultDpi = 96;

// Windows' MulDiv, portable: value * numerator / denominator with the quotient rounded to the nearest
// integer, halves away from zero; -1 for a zero denominator or a result outside int32_t, as MulDiv answers.
constexpr int32_t MulDivRound(int32_t value, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return -1;
    const int64_t product = int64_t(value) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t p = product < 0 ? -product : product;
    const int64_t d = denominator < 0 ? -int64_t(denominator) : int64_t(denominator);
    const int64_t quotient = (2 * p + d) / (2 * d);  // halves away from zero on the magnitude
    const int64_t result = negative ? -quotient : quotient;
    if (result > INT32_MAX || result < INT32_MIN) return -1;
    return int32_t(result);
}

constexpr int ScaleForDpi(int value96, int dpi) {
    return MulDivRound(value96, dpi, kDefaultDpi);
}

struct Rect96 {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Each of the four values is scaled on its own, as MulDiv(value, dpi, 96).
constexpr PixelRect ScaleRect(const Rect96& r, int dpi) {
    return {ScaleForDpi(r.left, dpi), ScaleForDpi(r.top, dpi), ScaleForDpi(r.width, dpi),
            ScaleForDpi(r.height, dpi)};
}

}  // namespace tarnell
