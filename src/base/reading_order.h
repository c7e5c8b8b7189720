// The order in which a reader meets the rectangles of one container: rows from top to bottom, each row
// from left to right. A rectangle starts a new row unless its top lies above the middle of the current
// row's first rectangle (so a button and a taller panel beside it share a row, and two stacked lines of
// check boxes do not). Equal places keep their given order.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "base/dpi_scale.h"

namespace tarnell {

// Indexes into `rects`, in reading order.
std::vector<size_t> ReadingOrder(std::span<const PixelRect> rects);

// Whether `inner` lies wholly inside `outer` (edges may touch).
bool LiesInside(const PixelRect& inner, const PixelRect& outer);

}  // namespace tarnell
