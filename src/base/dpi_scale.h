// Every position and size is written at 96 DPI and scaled to the window's DPI here, the way MulDiv
// rounds (to nearest, halves away from zero), so native code and the Win32 layer agree to the pixel.
#pragma once

#include <cstdint>

namespace tarnell {

inline constexpr int kDefaultDpi = 96;

constexpr int MulDivScale(int value, int numerator, int denominator) {
    if (denominator == 0) return -1;  // what MulDiv answers
    const int64_t product = int64_t(value) * numerator;
    const int64_t half = (denominator < 0 ? -int64_t(denominator) : int64_t(denominator)) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t magnitude = (product < 0 ? -product : product) + half;
    const int64_t quotient = magnitude / (denominator < 0 ? -int64_t(denominator) : int64_t(denominator));
    return int(negative ? -quotient : quotient);
}

constexpr int ScaleForDpi(int value96, int dpi) {
    return MulDivScale(value96, dpi, kDefaultDpi);
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
