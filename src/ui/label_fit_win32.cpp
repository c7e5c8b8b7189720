#include "ui/label_fit_win32.h"

#include "base/wide.h"
#include "theme/title_fit.h"

namespace tarnell {

int PointsFromHeight96(int height96) {
    return MulDivRound(height96 < 0 ? -height96 : height96, 72, kDefaultDpi);
}
int Height96FromPoints(int points) {
    return -MulDivRound(points, kDefaultDpi, 72);
}

void FitLabelFont(TLabel& label) {
    if (!label.Hwnd()) return;
    TFontSpec desc = label.HasOwnFont() ? label.OwnFont() : TFontSpec{};
    FitLabelTarget target;
    target.width = label.BoundsPixels().width;
    target.fontSize = PointsFromHeight96(desc.height96);
    target.measureCaption = [&label]() {
        ScopedWindowDc dc(label.Hwnd());
        if (!dc) return 0;
        const std::wstring text = ToWide(label.Caption());
        SIZE extent{};
        ScopedSelect font(dc.get(), label.CurrentFont());
        GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &extent);
        return int(extent.cx);
    };
    target.setFontSize = [&label, &desc](int points) {
        desc.height96 = Height96FromPoints(points);
        label.SetOwnFont(desc);
    };
    FitLabelFont(target);
}

}  // namespace tarnell
