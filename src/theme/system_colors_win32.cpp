#include "theme/system_colors_win32.h"

#include <windows.h>

namespace tarnell {

namespace {

std::function<bool()>& HighContrastSeam() {
    static std::function<bool()> seam;
    return seam;
}

SystemColorResolver& ColorSeam() {
    static SystemColorResolver seam;
    return seam;
}

TColor SystemColor(int index) {
    if (ColorSeam()) return ColorSeam()(index) & 0x00FFFFFF;
    return TColor(GetSysColor(index)) & 0x00FFFFFF;
}

}  // namespace

bool HighContrastOn() {
    if (HighContrastSeam()) return HighContrastSeam()();
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof(hc);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) &&
           (hc.dwFlags & HCF_HIGHCONTRASTON);
}

TUiPalette CurrentUiPalette() {
    return MakeUiPalette(HighContrastOn(), SystemColor);
}

void SetSystemColorsForTesting(std::function<bool()> highContrast, SystemColorResolver colors) {
    HighContrastSeam() = std::move(highContrast);
    ColorSeam() = std::move(colors);
}

}  // namespace tarnell
