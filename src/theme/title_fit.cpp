#include "theme/title_fit.h"

#include <cstdint>

namespace tarnell {

int FittedFontSize(int fontSize, int labelWidth, int captionWidth) {
    if (captionWidth <= labelWidth) return fontSize;
    // captionWidth > labelWidth >= 0 here, so the divisor is at least 1. C++ division truncates toward zero.
    const int64_t size = int64_t(fontSize) * labelWidth / captionWidth;
    return size < kMinFittedFontSize ? kMinFittedFontSize : int(size);
}

void FitLabelFont(const FitLabelTarget& label) {
    const int captionWidth = label.measureCaption();
    if (captionWidth <= label.width) return;
    label.setFontSize(FittedFontSize(label.fontSize, label.width, captionWidth));
}

}  // namespace tarnell
