#include "theme/title_fit.h"

#include <doctest/doctest.h>

#include <vector>

using namespace tarnell;

TEST_CASE("FittedFontSize truncates, floors at 6 points and leaves a fitting caption alone") {
    struct Case {
        int size, labelWidth, captionWidth, expected;
    };
    const Case cases[] = {
        {44, 484, 600, 35},                      // 35.49
        {44, 484, 484, 44},                      // exactly as wide: unchanged
        {44, 484, 485, 43},                      // one pixel too wide: 43.9 truncated
        {44, 484, 100000, 6},                    // far too wide: the floor
        {44, 0, 10, 6},       {7, 100, 101, 6},  // 6.93 -> 6
        {12, 100, 50, 12},
    };
    for (const auto& c : cases) {
        CAPTURE(c.captionWidth);
        CHECK(FittedFontSize(c.size, c.labelWidth, c.captionWidth) == c.expected);
    }
}

TEST_CASE("FitLabelFont measures once and sets the size only when the caption is too wide") {
    int measured = 0;
    std::vector<int> sizes;
    FitLabelTarget label;
    label.width = 484;
    label.fontSize = 44;
    label.measureCaption = [&] {
        ++measured;
        return 600;
    };
    label.setFontSize = [&](int s) { sizes.push_back(s); };
    FitLabelFont(label);
    CHECK(measured == 1);
    CHECK(sizes == std::vector<int>{35});

    measured = 0;
    sizes.clear();
    label.measureCaption = [&] {
        ++measured;
        return 484;
    };
    FitLabelFont(label);
    CHECK(measured == 1);
    CHECK(sizes.empty());
}
