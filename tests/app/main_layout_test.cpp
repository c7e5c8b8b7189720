// The main window's form description: the tree, the stored order, and the geometry that the window
// is built from at any DPI.
#include "app/main_layout.h"

#include <doctest/doctest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {
std::string U8(const char16_t* s) {
    return Utf16ToUtf8(s);
}
}  // namespace

TEST_CASE(
    "every parent comes before its children, names are unique, and the stored order is the control tree") {
    std::set<std::u16string> seen;
    std::vector<std::string> order;
    for (const ControlDesc& c : MainFormControls()) {
        CAPTURE(U8(c.name));
        CHECK(seen.insert(c.name).second);
        if (*c.parent) CHECK(seen.count(c.parent) == 1);
        order.push_back(U8(c.name));
    }
    const std::vector<std::string> tree = {"PnlMain",
                                           "Card1",
                                           "LblTitle",
                                           "LblContent",
                                           "BtnStart",
                                           "Indicator",
                                           "Card2",
                                           "LblVersion",
                                           "GroupBox1",
                                           "LblAdapter",
                                           "LblIPAddress",
                                           "GroupBox2",
                                           "ChkTcpNoDelay",
                                           "ChkTCPAckFrequency",
                                           "ChkTcpDelAckTick",
                                           "GroupBox3",
                                           "ChkNetworkThrottlingIndex",
                                           "ChkSystemResponsiveness",
                                           "PnlHead",
                                           "BtnHead",
                                           "BtnHome",
                                           "BtnConfig",
                                           "BtnDonate",
                                           "PnlLogo",
                                           "ImgLogo"};
    CHECK(order == tree);
}

TEST_CASE("the markup label, the indicator and the image have no caption; every other control has one") {
    for (const ControlDesc& c : MainFormControls()) {
        CAPTURE(U8(c.name));
        const bool captionless = c.kind == ControlKind::MarkupLabel ||
                                 c.kind == ControlKind::ActivityIndicator || c.kind == ControlKind::Image;
        CHECK((c.caption == nullptr) == captionless);
    }
}

TEST_CASE("geometry: the indicator sits centred on the run switch, the header fills the window's width") {
    const ControlDesc* start = FindControlDesc(u"BtnStart");
    const ControlDesc* indicator = FindControlDesc(u"Indicator");
    REQUIRE(start);
    REQUIRE(indicator);
    for (int dpi : {96, 144}) {
        CAPTURE(dpi);
        const PixelRect s = ScaleRect(start->bounds, dpi), i = ScaleRect(indicator->bounds, dpi);
        // Centres in doubled pixels, so halves compare exactly; at most one pixel apart after rounding.
        CHECK(std::abs((2 * s.left + s.width) - (2 * i.left + i.width)) <= 2);
        CHECK(std::abs((2 * s.top + s.height) - (2 * i.top + i.height)) <= 2);
    }
    CHECK(start->bounds.left * 2 + start->bounds.width == 2 * 257);
    CHECK(start->bounds.top * 2 + start->bounds.height == 2 * 298);

    const FormDesc& form = MainFormDesc();
    const Rect96 head = FindControlDesc(u"PnlHead")->bounds, main = FindControlDesc(u"PnlMain")->bounds;
    const Rect96 logo = FindControlDesc(u"PnlLogo")->bounds, bar = FindControlDesc(u"BtnHead")->bounds;
    CHECK(head.width == form.clientWidth96);
    CHECK(main.top == head.height);
    CHECK(main.top + main.height == form.clientHeight96);
    CHECK(logo.left + logo.width == form.clientWidth96);
    CHECK(bar.left + bar.width + 10 == logo.left);  // margins of 10 on the toolbar's sides
    // The header's buttons stand side by side in stored order, as wide as the toolbar's buttons.
    int left = 0;
    for (const char16_t* name : {u"BtnHome", u"BtnConfig", u"BtnDonate"}) {
        const Rect96 b = FindControlDesc(name)->bounds;
        CHECK(b.left == left);
        CHECK(b.width == kToolButtonWidth96);
        left += b.width;
    }
}

TEST_CASE("client positions add up the parents' offsets") {
    struct Case {
        const char16_t* name;
        Rect96 expected;
    };
    const Case cases[] = {
        {u"LblTitle", {8, 90, 484, 81}},
        {u"ChkTcpNoDelay", {32, 201, 200, 17}},
        {u"ChkSystemResponsiveness", {258, 281, 200, 17}},
        {u"BtnConfig", {80, 10, 70, 30}},
        {u"ImgLogo", {381, 0, 112, 50}},
    };
    for (const Case& c : cases) {
        CAPTURE(U8(c.name));
        const Rect96 r = ClientBounds96(*FindControlDesc(c.name));
        CHECK(r.left == c.expected.left);
        CHECK(r.top == c.expected.top);
        CHECK(r.width == c.expected.width);
        CHECK(r.height == c.expected.height);
    }
}
