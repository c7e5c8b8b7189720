#include "base/reading_order.h"

#include <algorithm>
#include <numeric>

namespace tarnell {

std::vector<size_t> ReadingOrder(std::span<const PixelRect> rects) {
    std::vector<size_t> byTop(rects.size());
    std::iota(byTop.begin(), byTop.end(), size_t(0));
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](size_t a, size_t b) { return rects[a].top < rects[b].top; });
    std::vector<size_t> order;
    order.reserve(rects.size());
    size_t rowStart = 0;
    for (size_t i = 1; i <= byTop.size(); ++i) {
        if (i < byTop.size()) {
            // The row goes on while the next top lies above the middle of the row's first rectangle
            // (twice the top against top plus bottom: the middle without rounding).
            const PixelRect& first = rects[byTop[rowStart]];
            if (2 * rects[byTop[i]].top < 2 * first.top + first.height) continue;
        }
        std::vector<size_t> row(byTop.begin() + std::ptrdiff_t(rowStart), byTop.begin() + std::ptrdiff_t(i));
        std::stable_sort(row.begin(), row.end(), [&](size_t a, size_t b) {
            return rects[a].left != rects[b].left ? rects[a].left < rects[b].left : a < b;
        });
        order.insert(order.end(), row.begin(), row.end());
        rowStart = i;
    }
    return order;
}

bool LiesInside(const PixelRect& inner, const PixelRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top &&
           inner.left + inner.width <= outer.left + outer.width &&
           inner.top + inner.height <= outer.top + outer.height;
}

}  // namespace tarnell
