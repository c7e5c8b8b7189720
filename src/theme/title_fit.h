// Shrinking a label's font so that its caption fits the label's width, in one pass.
#pragma once

#include <functional>

namespace tarnell {

inline constexpr int kMinFittedFontSize = 6;  // points

// The font size for a caption measuring captionWidth pixels at fontSize points in a label labelWidth
// pixels wide: unchanged when it fits, else fontSize * labelWidth / captionWidth truncated toward
// zero, never below kMinFittedFontSize.
int FittedFontSize(int fontSize, int labelWidth, int captionWidth);

// The label as the fitting sees it.
struct FitLabelTarget {
    int width = 0;                         // the label's width in pixels
    int fontSize = 0;                      // its font's size in points
    std::function<int()> measureCaption;   // width in pixels of the caption in the label's font
    std::function<void(int)> setFontSize;  // called only when the size changes
};

// Measures the caption once; when it is wider than the label, sets the fitted size. No second pass.
void FitLabelFont(const FitLabelTarget& label);

}  // namespace tarnell
