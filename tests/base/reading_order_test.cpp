#include "base/reading_order.h"

#include <doctest/doctest.h>

#include <vector>

using namespace tarnell;

TEST_CASE("ReadingOrder: rows top to bottom, each row left to right, as the window's containers lay out") {
    struct Case {
        const char* name;
        std::vector<PixelRect> rects;  // left, top, width, height, in the order the container holds them
        std::vector<size_t> order;
    };
    const Case cases[] = {
        // The header: the tab list (10, 10, 358 x 30) beside the logo panel (378, 0, 120 x 50), stored
        // tabs first; a lower top on the right must not put the logo first.
        {"header", {{10, 10, 358, 30}, {378, 0, 120, 50}}, {0, 1}},
        {"header stored the other way", {{378, 0, 120, 50}, {10, 10, 358, 30}}, {1, 0}},
        // The home card: title, tagline, run switch, and the indicator centred on the switch (after it).
        {"home card",
         {{8, 40, 484, 81}, {0, 188, 500, 33}, {176, 264, 162, 68}, {241, 282, 32, 32}},
         {0, 1, 2, 3}},
        // The configuration card: the version line stored first but at the bottom; the groups stacked.
        {"configuration card",
         {{15, 344, 100, 15}, {15, 6, 474, 67}, {15, 87, 474, 98}, {15, 199, 474, 66}},
         {1, 2, 3, 0}},
        // A group with two rows of check boxes, the second row's box stored first.
        {"two rows", {{17, 64, 200, 17}, {17, 32, 200, 17}, {243, 32, 200, 17}}, {1, 2, 0}},
        // One row of labels, right one stored first.
        {"one row", {{344, 32, 109, 15}, {17, 32, 304, 15}}, {1, 0}},
        // Stacked cards in one place keep their order.
        {"same place", {{0, 0, 498, 376}, {0, 0, 498, 376}}, {0, 1}},
        // A top exactly at the middle of the row's first rectangle starts a new row; one above it does not.
        {"at the middle", {{0, 0, 10, 20}, {20, 10, 10, 10}}, {0, 1}},
        {"at the middle, left", {{20, 0, 10, 20}, {0, 10, 10, 10}}, {0, 1}},
        {"above the middle", {{20, 0, 10, 20}, {0, 9, 10, 10}}, {1, 0}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(ReadingOrder(c.rects) == c.order);
    }
}

TEST_CASE("LiesInside: the indicator on the run switch, and rectangles that only overlap") {
    const PixelRect runSwitch{176, 264, 162, 68};
    CHECK(LiesInside({241, 282, 32, 32}, runSwitch));
    CHECK(LiesInside(runSwitch, runSwitch));
    CHECK_FALSE(LiesInside(runSwitch, {241, 282, 32, 32}));
    CHECK_FALSE(LiesInside({300, 282, 40, 32}, runSwitch));  // reaches past the right edge
    CHECK_FALSE(LiesInside({176, 250, 10, 20}, runSwitch));  // starts above
}
