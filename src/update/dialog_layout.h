// Arithmetic of the update prompt's extra band, in pixels at the prompt's DPI.
#pragma once

namespace tarnell {

// A DPI as a whole-percent scale factor (96 -> 100, 144 -> 150).
int ScalePercentForDpi(int dpi);
// value (a 96-DPI size) times percent / 100, rounded half away from zero.
int ScaleByPercent(int value, int percent);

struct ExtraBandLayout {
    int outerHeight;  // the prompt's new outer height, title bar and borders included
    int lineLeft, lineTop, lineWidth, lineHeight;
    int controlLeft, controlTop, controlWidth;  // the check box or the link label
};

// The band that the info object adds: the outer height grows by scale(40 - offset); the separator line
// and the check box or link label are placed from the new outer height (client coordinates).
ExtraBandLayout LayOutExtraBand(int outerWidth, int outerHeight, int offset, int percent);

}  // namespace tarnell
