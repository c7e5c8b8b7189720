// Colour values as the controls and the button style family use them.
//
// A TColor is either
//   - a plain colour: red in bits 0-7, green 8-15, blue 16-23, high byte 0 ($00BBGGRR);
//   - a system colour: high byte $FF, the system colour index in the low byte, resolved when used;
//   - one of the markers clNone and clDefault.
#pragma once

#include <cstdint>
#include <functional>

namespace tarnell {

using TColor = uint32_t;

inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clSilver = 0x00C0C0C0;
inline constexpr TColor clGray = 0x00808080;
inline constexpr TColor clWindowText = 0xFF000008;  // COLOR_WINDOWTEXT
inline constexpr TColor clGrayText = 0xFF000011;    // COLOR_GRAYTEXT
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

// The program's accent: red 61, green 132, blue 221.
inline constexpr TColor AccentColor = 14517309;
static_assert(AccentColor == 0x00DD843D);

constexpr TColor RgbColor(uint8_t red, uint8_t green, uint8_t blue) {
    return TColor(red) | (TColor(green) << 8) | (TColor(blue) << 16);
}
constexpr uint8_t RedOf(TColor c) {
    return uint8_t(c & 0xFF);
}
constexpr uint8_t GreenOf(TColor c) {
    return uint8_t((c >> 8) & 0xFF);
}
constexpr uint8_t BlueOf(TColor c) {
    return uint8_t((c >> 16) & 0xFF);
}

constexpr bool IsSystemColor(TColor c) {
    return (c >> 24) == 0xFF;
}
constexpr int SystemColorIndex(TColor c) {
    return int(c & 0xFF);
}

// Answers the current plain colour of a system colour index (the Win32 glue asks GetSysColor).
using SystemColorResolver = std::function<TColor(int index)>;

// The classic Windows defaults, for code that runs without a system to ask (tests, the native build).
TColor DefaultSystemColor(int index);

// A system colour becomes its plain colour through resolve (DefaultSystemColor when resolve is empty);
// every other value is returned unchanged.
TColor ColorToRgb(TColor color, const SystemColorResolver& resolve = {});

// Each of red, green and blue moves Percent towards 255: c + MulDiv(255 - c, Percent, 100).
// System colours are resolved first; the result is a plain colour. Channels are kept within 0..255
// for percentages outside 0..100.
TColor LightenByPercent(TColor color, int percent, const SystemColorResolver& resolve = {});

// Luma 0.299 R + 0.587 G + 0.114 B of the low three bytes, rounded halves to even, written to all three
// channels; the high byte is kept. clNone and clDefault come back unchanged.
TColor ToGrayscale(TColor color);

}  // namespace tarnell
