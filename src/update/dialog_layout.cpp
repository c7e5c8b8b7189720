#include "update/dialog_layout.h"

#include <cstdint>

#include "base/dpi_scale.h"

namespace tarnell {

int ScalePercentForDpi(int dpi) {
    return MulDivRound(dpi, 100, 96);
}

int ScaleByPercent(int value, int percent) {
    return MulDivRound(value, percent, 100);
}

ExtraBandLayout LayOutExtraBand(int outerWidth, int outerHeight, int offset, int percent) {
    ExtraBandLayout band{};
    band.outerHeight = outerHeight + ScaleByPercent(40 - offset, percent);
    band.lineLeft = ScaleByPercent(0, percent);
    band.lineTop = band.outerHeight - ScaleByPercent(76 - offset, percent);
    band.lineWidth = outerWidth;
    band.lineHeight = 1;
    band.controlLeft = ScaleByPercent(10, percent);
    band.controlTop = band.outerHeight - ScaleByPercent(66 - offset, percent);
    band.controlWidth = outerWidth;
    return band;
}

}  // namespace tarnell
