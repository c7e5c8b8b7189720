// Win32 glue: the palette the window paints with right now. High contrast is asked from the system
// (SPI_GETHIGHCONTRAST) and system colours from GetSysColor at each call, so a change of scheme shows at
// the next paint. Tests put their own answers in place of the system's.
#pragma once

#include <functional>

#include "theme/palette.h"

namespace tarnell {

bool HighContrastOn();
TUiPalette CurrentUiPalette();

// Replaces the system's answers until called again with empty functions (each empty one: the system).
void SetSystemColorsForTesting(std::function<bool()> highContrast, SystemColorResolver colors);

}  // namespace tarnell
