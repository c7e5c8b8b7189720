#include "theme/color.h"

#include <doctest/doctest.h>

#include <vector>

using namespace tarnell;

TEST_CASE("colour constants use the plain, system and marker encodings") {
    CHECK(AccentColor == 0x00DD843D);
    CHECK(RedOf(AccentColor) == 61);
    CHECK(GreenOf(AccentColor) == 132);
    CHECK(BlueOf(AccentColor) == 221);
    CHECK(RgbColor(61, 132, 221) == AccentColor);
    CHECK(IsSystemColor(clGrayText));
    CHECK(SystemColorIndex(clGrayText) == 17);
    CHECK(SystemColorIndex(clWindowText) == 8);
    CHECK_FALSE(IsSystemColor(clNone));
    CHECK_FALSE(IsSystemColor(clDefault));
    CHECK_FALSE(IsSystemColor(clWhite));
}

TEST_CASE("derived colours of the style family, with their lightened steps") {
    struct Case {
        const char* name;
        TColor value;
        TColor expected;
    };
    const Case cases[] = {
        {"L(accent, 10)", LightenByPercent(AccentColor, 10), RgbColor(80, 144, 224)},
        {"L(accent, 50)", LightenByPercent(AccentColor, 50), RgbColor(158, 194, 238)},
        {"L(accent, 70)", LightenByPercent(AccentColor, 70), RgbColor(197, 218, 245)},
        {"L(black, 50)", LightenByPercent(clBlack, 50), RgbColor(128, 128, 128)},
        {"L(black, 70)", LightenByPercent(clBlack, 70), RgbColor(179, 179, 179)},
        {"G(L(accent, 50))", ToGrayscale(LightenByPercent(AccentColor, 50)), 0x00BCBCBC},
        {"G(L(accent, 70))", ToGrayscale(LightenByPercent(AccentColor, 70)), 0x00D7D7D7},
        {"G(L(black, 50))", ToGrayscale(LightenByPercent(clBlack, 50)), 0x00808080},
        {"G(L(black, 70))", ToGrayscale(LightenByPercent(clBlack, 70)), 0x00B3B3B3},
    };
    CHECK(LightenByPercent(AccentColor, 10) == 0x00E09050);
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(c.value == c.expected);
    }
}

TEST_CASE("LightenByPercent resolves a system colour through the resolver and returns a plain colour") {
    std::vector<int> asked;
    const SystemColorResolver resolver = [&](int index) {
        asked.push_back(index);
        return RgbColor(100, 0, 200);
    };
    CHECK(LightenByPercent(clGrayText, 50, resolver) == RgbColor(178, 128, 228));  // 77.5 -> 78, 127.5 -> 128
    CHECK(asked == std::vector<int>{17});

    asked.clear();
    CHECK(LightenByPercent(AccentColor, 0, resolver) == AccentColor);
    CHECK(asked.empty());  // plain colours are not resolved

    // Without a resolver the classic defaults stand in; the high byte is gone either way.
    CHECK(LightenByPercent(clWindowText, 0) == clBlack);
    CHECK(LightenByPercent(clGrayText, 100) == clWhite);
}

TEST_CASE("LightenByPercent keeps channels in range outside 0..100 percent") {
    CHECK(LightenByPercent(AccentColor, 150) == clWhite);
    CHECK(LightenByPercent(RgbColor(10, 20, 30), -100) == RgbColor(0, 0, 0));
}

TEST_CASE("ToGrayscale rounds halves to even and keeps the high byte") {
    struct Case {
        TColor in, expected;
    };
    const Case cases[] = {
        {RgbColor(0, 0, 250), RgbColor(28, 28, 28)},  // 28.5 -> 28
        {RgbColor(0, 12, 4), RgbColor(8, 8, 8)},      // 7.5 -> 8
        {RgbColor(0, 8, 86), RgbColor(14, 14, 14)},   // 14.5 -> 14
        {RgbColor(0, 4, 168), RgbColor(22, 22, 22)},  // 21.5 -> 22
        {RgbColor(197, 218, 245), 0x00D7D7D7},        // 214.799 -> 215
        {clWhite, clWhite},
        {clBlack, clBlack},
        {0xFF000011, 0xFF050505},  // not resolved: red 17 gives 5.083; high byte kept
        {0x02808080, 0x02808080},
        {clNone, clNone},
        {clDefault, clDefault},
    };
    for (const auto& c : cases) {
        CAPTURE(c.in);
        CHECK(ToGrayscale(c.in) == c.expected);
    }
}
