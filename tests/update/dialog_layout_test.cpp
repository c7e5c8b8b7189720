#include "update/dialog_layout.h"

#include <doctest/doctest.h>

using namespace tarnell;

TEST_CASE("Scaling from 96 DPI goes through a whole-percent factor and rounds") {
    CHECK(ScalePercentForDpi(96) == 100);
    CHECK(ScalePercentForDpi(120) == 125);
    CHECK(ScalePercentForDpi(144) == 150);
    CHECK(ScalePercentForDpi(168) == 175);
    CHECK(ScaleByPercent(30, 100) == 30);
    CHECK(ScaleByPercent(30, 125) == 38);   // 37.5 rounds up
    CHECK(ScaleByPercent(66, 175) == 116);  // 115.5
    CHECK(ScaleByPercent(-30, 125) == -38);
}

TEST_CASE("The extra band for the main window's offset of 10") {
    struct Case {
        int percent, outerWidth, outerHeight;
        ExtraBandLayout band;
    };
    const Case cases[] = {
        {100, 400, 200, {230, 0, 164, 400, 1, 10, 174, 400}},
        {150, 600, 300, {345, 0, 246, 600, 1, 15, 261, 600}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.percent);
        const ExtraBandLayout band = LayOutExtraBand(c.outerWidth, c.outerHeight, 10, c.percent);
        CHECK(band.outerHeight == c.band.outerHeight);
        CHECK(band.lineLeft == c.band.lineLeft);
        CHECK(band.lineTop == c.band.lineTop);
        CHECK(band.lineWidth == c.band.lineWidth);
        CHECK(band.lineHeight == 1);
        CHECK(band.controlLeft == c.band.controlLeft);
        CHECK(band.controlTop == c.band.controlTop);
        CHECK(band.controlWidth == c.band.controlWidth);
    }
}

TEST_CASE("Other offsets move the band: 0 adds 40 and 40 adds nothing") {
    CHECK(LayOutExtraBand(300, 200, 0, 100).outerHeight == 240);
    CHECK(LayOutExtraBand(300, 200, 0, 100).lineTop == 240 - 76);
    CHECK(LayOutExtraBand(300, 200, 40, 100).outerHeight == 200);
    CHECK(LayOutExtraBand(300, 200, 40, 100).controlTop == 200 - 26);
}
