#include <doctest/doctest.h>

#include "base/dpi_scale.h"

using namespace tarnell;

TEST_CASE("MulDivRound rounds halves away from zero like the system's MulDiv") {
    struct Case {
        int a, b, c, expected;
    };
    const Case cases[] = {
        {255, 50, 100, 128},    // 127.5
        {123, 50, 100, 62},     // 61.5
        {-255, 50, 100, -128},  // -127.5
        {255, -50, 100, -128},
        {3, 1, 4, 1},  // 0.75
        {1, 1, 4, 0},  // 0.25
        {-1, 1, 4, 0},
        {7, 1, -2, -4},          // -3.5
        {5, 1, 0, -1},           // zero denominator
        {255, 10, 100, 26},      // 25.5
        {2147483647, 2, 1, -1},  // outside int32_t
        {-2147483647, 3, 2, -1},
        {2147483647, 3, 3, 2147483647},  // the product may exceed int32_t, the result not
    };
    for (const auto& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CAPTURE(c.c);
        CHECK(MulDivRound(c.a, c.b, c.c) == c.expected);
    }
}
