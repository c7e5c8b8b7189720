// Win32 glue: shrinks a label's own font, once, so that its caption fits the label's width. The
// fitted size is kept in the label's font as a 96-DPI height, so a later DPI change keeps it.
#pragma once

#include "ui/std_controls_win32.h"

namespace tarnell {

// Font size in points of a 96-DPI character height, and back (as the toolkit rounds them).
int PointsFromHeight96(int height96);
int Height96FromPoints(int points);

void FitLabelFont(TLabel& label);

}  // namespace tarnell
