#include "theme/styled_button_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <vector>

#include "win32_test_support.h"

using namespace tarnell;
using theme_test::Near;
using theme_test::Snapshot;

namespace {

const COLORREF kAccent = RGB(61, 132, 221);
const COLORREF kHot = RGB(80, 144, 224);
const COLORREF kWhite = RGB(255, 255, 255);

struct Fixture {
    // Shown only where the keyboard focus matters: a visible window costs seconds to end under Wine.
    explicit Fixture(bool visible = false) {
        RegisterVorbeckButtonStyles();
        form = theme_test::CreateTopLevel(L"buttons", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 600,
                                          400);
        focusKeeper = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 500, 300, 60, 20,
                                      form, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~Fixture() {
        DestroyWindow(form);
        UnregisterButtonStyles();
    }
    StyledButton& Make(const StyledButtonConfig& config, int x = 10, int y = 10, int w = 162, int h = 68) {
        HWND hwnd = StyledButton::Create(form, x, y, w, h, config);
        REQUIRE(hwnd);
        StyledButton* button = StyledButton::FromHandle(hwnd);
        REQUIRE(button);
        return *button;
    }
    HWND form = nullptr;
    HWND focusKeeper = nullptr;
};

StyledButtonConfig RunSwitch(const char16_t* caption = u"WWWW") {
    StyledButtonConfig c;
    c.caption = caption;
    c.appearance = u"Outline";
    c.radius96 = 6;
    return c;
}

StyledButtonConfig HeaderButton(const char16_t* caption, int group = 1) {
    StyledButtonConfig c;
    c.caption = caption;
    c.appearance = u"Header";
    c.radius96 = 4;
    c.flat = true;
    c.groupIndex = group;
    return c;
}

void MouseMove(StyledButton& b, int x, int y) {
    SendMessageW(b.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}
void MouseClick(StyledButton& b, int x, int y, int upX, int upY) {
    SendMessageW(b.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(b.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(upX, upY));
}

}  // namespace

TEST_CASE("state choice: disabled, then down or held, then hot, else normal") {
    Fixture f;
    StyledButton& b = f.Make(RunSwitch());
    CHECK(b.State() == TStyledButtonState::bsmNormal);
    MouseMove(b, 20, 20);
    CHECK(b.Hot());
    CHECK(b.State() == TStyledButtonState::bsmHot);
    SendMessageW(b.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    CHECK(b.State() == TStyledButtonState::bsmPressed);  // held with the mouse
    MouseMove(b, 500, 20);                               // dragged off: no longer pressed
    CHECK(b.State() == TStyledButtonState::bsmNormal);
    SendMessageW(b.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(500, 20));
    SendMessageW(b.Handle(), WM_MOUSELEAVE, 0, 0);
    CHECK_FALSE(b.Hot());

    b.SetDown(true);
    CHECK(b.State() == TStyledButtonState::bsmPressed);
    MouseMove(b, 20, 20);
    CHECK(b.State() == TStyledButtonState::bsmPressed);  // down wins over hot
    b.SetEnabled(false);
    CHECK(b.State() == TStyledButtonState::bsmDisabled);  // disabled wins over down
    b.SetEnabled(true);
    b.SetDown(false);
    CHECK(b.State() == TStyledButtonState::bsmNormal);  // disabling dropped the hot state
}

TEST_CASE("a click runs the handler once, only when released over the button, and never takes the focus") {
    Fixture f(true);
    StyledButton& b = f.Make(RunSwitch());
    int clicks = 0;
    b.SetOnClick([&](StyledButton& sender) {
        CHECK(&sender == &b);
        ++clicks;
    });
    SetFocus(f.focusKeeper);
    MouseClick(b, 30, 30, 31, 31);
    CHECK(clicks == 1);
    CHECK(GetFocus() == f.focusKeeper);
    CHECK_FALSE(b.Down());  // not grouped: a click does not latch it
    MouseClick(b, 30, 30, 400, 30);
    CHECK(clicks == 1);
    CHECK((GetWindowLongPtrW(b.Handle(), GWL_STYLE) & WS_TABSTOP) == 0);
}

TEST_CASE("toggle group: a click puts the button down and the rest of its group up") {
    Fixture f;
    StyledButton& home = f.Make(HeaderButton(u"Home"), 10, 10, 70, 30);
    StyledButton& config = f.Make(HeaderButton(u"Config"), 80, 10, 70, 30);
    StyledButton& donate = f.Make(HeaderButton(u"Donate"), 150, 10, 70, 30);
    StyledButton& other = f.Make(HeaderButton(u"Other", 2), 220, 10, 70, 30);
    home.SetDown(true);
    other.SetDown(true);
    std::vector<StyledButton*> clicked;
    for (StyledButton* b : {&home, &config, &donate})
        b->SetOnClick([&](StyledButton& s) { clicked.push_back(&s); });

    MouseClick(config, 5, 5, 5, 5);
    CHECK(config.Down());
    CHECK_FALSE(home.Down());
    CHECK_FALSE(donate.Down());
    CHECK(other.Down());  // another group
    MouseClick(config, 5, 5, 5, 5);
    CHECK(config.Down());  // a down button stays down
    donate.SetDown(true);  // set from code, the group follows too
    CHECK_FALSE(config.Down());
    CHECK(clicked == std::vector<StyledButton*>{&config, &config});
}

TEST_CASE("setting the style checks class and appearance against the family's lists") {
    Fixture f;
    StyledButton& b = f.Make(RunSwitch());
    CHECK(b.Appearance() == u"Outline");
    CHECK(b.Records()[0].ButtonDrawStyle == TButtonDrawStyle::btnClear);

    CHECK(b.SetStyle(u"vorbeck", u"PRIMARY", u"header"));
    CHECK(b.StyleClass() == u"Primary");
    CHECK(b.Appearance() == u"Header");
    CHECK(b.Records()[1].BorderDrawStyle == TBorderDrawStyle::brdClear);

    const TStyledButtonRecords before = b.Records();
    CHECK_FALSE(b.SetStyle(u"Vorbeck", u"Primary", u"Shiny"));
    CHECK(b.Appearance() == u"Normal");
    CHECK(b.Records() == before);
}

TEST_CASE("the run switch paints its outline, hot, pressed and disabled looks") {
    Fixture f;
    StyledButton& b = f.Make(RunSwitch(u"WWWW"));
    const RECT middle{40, 20, 122, 48};
    // Caption ink: near white on a fill, dark on the clear background.
    auto isWhite = [](COLORREF c) { return Near(c, kWhite, 40); };
    auto isDark = [](COLORREF c) { return GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100; };
    {
        Snapshot s(b.Handle());  // normal: no fill, accent border, black caption
        CHECK(Near(s.Pixel(81, 0), kAccent, 40));
        CHECK(Near(s.Pixel(5, 5), kWhite, 0));
        CHECK(s.Pixel(0, 0) == kWhite);  // outside the rounded corner
        CHECK(s.Count(isDark, middle) > 10);
    }
    MouseMove(b, 20, 20);
    {
        Snapshot s(b.Handle());  // hot: filled $00E09050, white caption
        CHECK(Near(s.Pixel(5, 34), kHot, 0));
        CHECK(s.Pixel(0, 0) == kWhite);
        CHECK(s.Count(isWhite, middle) > 10);
    }
    SendMessageW(b.Handle(), WM_MOUSELEAVE, 0, 0);
    b.SetDown(true);
    {
        Snapshot s(b.Handle());  // running: filled with the accent
        CHECK(Near(s.Pixel(5, 34), kAccent, 0));
        CHECK(s.Count(isWhite, middle) > 10);
    }
    b.SetDown(false);
    b.SetCaption(u"");
    b.SetEnabled(false);
    {
        Snapshot s(b.Handle());  // busy: no fill, light gray border, no caption
        CHECK(Near(s.Pixel(81, 0), RGB(0xD7, 0xD7, 0xD7), 12));
        CHECK(s.Count([](COLORREF c) { return c != RGB(255, 255, 255); }, middle) == 0);
    }
}

TEST_CASE("flat header buttons draw no border unless hot; the radius is the control's own") {
    Fixture f;
    StyledButton& header = f.Make(HeaderButton(u"Home"), 10, 10, 70, 30);
    CHECK_FALSE(header.DrawsBorder());  // normal header record has a black border, but the button is flat
    {
        Snapshot s(header.Handle());
        CHECK(s.Count([](COLORREF c) { return c == RGB(0, 0, 0); }, RECT{0, 0, 70, 3}) == 0);
    }
    StyledButtonConfig outlineFlat = RunSwitch();
    outlineFlat.flat = true;
    StyledButton& flat = f.Make(outlineFlat, 10, 100);
    CHECK_FALSE(flat.DrawsBorder());
    MouseMove(flat, 20, 20);
    CHECK(flat.DrawsBorder());

    header.SetDown(true);
    StyledButtonConfig square = HeaderButton(u"Home");
    square.drawType = TStyledButtonDrawType::btRect;
    square.down = true;
    StyledButton& rect = f.Make(square, 100, 10, 70, 30);
    Snapshot rounded(header.Handle()), squared(rect.Handle());
    CHECK(Near(rounded.Pixel(35, 15), kAccent, 0));
    CHECK(rounded.Pixel(0, 0) == kWhite);           // the 4-pixel corner is cut
    CHECK(Near(squared.Pixel(1, 1), kAccent, 30));  // a rectangle fills its corner
    CHECK(Near(rounded.Pixel(2, 15), kAccent, 0));  // the straight side is filled
}

TEST_CASE("the keyboard: Space and Enter show the button pressed on key down and click on key up") {
    Fixture f(true);
    StyledButton& b = f.Make(RunSwitch());
    int clicks = 0;
    b.SetOnClick([&](StyledButton&) { ++clicks; });
    SetFocus(b.Handle());
    REQUIRE(GetFocus() == b.Handle());
    for (WPARAM key : {WPARAM(VK_SPACE), WPARAM(VK_RETURN)}) {
        CAPTURE(key);
        const int before = clicks;
        SendMessageW(b.Handle(), WM_KEYDOWN, key, 1);
        CHECK(b.State() == TStyledButtonState::bsmPressed);
        SendMessageW(b.Handle(), WM_KEYDOWN, key, 1 | (1 << 30));  // the key repeats while held
        CHECK(clicks == before);
        SendMessageW(b.Handle(), WM_KEYUP, key, LPARAM(0xC0000001));
        CHECK(clicks == before + 1);
        CHECK(b.State() == TStyledButtonState::bsmSelected);  // it has the focus
    }
    // The focus leaves while the key is down: the press is dropped, the key-up clicks nothing.
    SendMessageW(b.Handle(), WM_KEYDOWN, VK_SPACE, 1);
    SetFocus(f.focusKeeper);
    CHECK(b.State() == TStyledButtonState::bsmNormal);
    SendMessageW(b.Handle(), WM_KEYUP, VK_SPACE, LPARAM(0xC0000001));
    CHECK(clicks == 2);
    // A disabled button neither shows pressed nor clicks.
    SetFocus(b.Handle());
    b.SetEnabled(false);
    SendMessageW(b.Handle(), WM_KEYDOWN, VK_RETURN, 1);
    CHECK(b.State() == TStyledButtonState::bsmDisabled);
    SendMessageW(b.Handle(), WM_KEYUP, VK_RETURN, LPARAM(0xC0000001));
    CHECK(clicks == 2);
}

TEST_CASE("the focus cue shows only once the window says the keyboard was used, on every state's colours") {
    Fixture f(true);
    StyledButton& run = f.Make(RunSwitch(u"Run"));
    StyledButton& header = f.Make(HeaderButton(u"Home"), 200, 10, 70, 30);
    StyledButton& other = f.Make(HeaderButton(u"Config"), 270, 10, 70, 30);
    header.SetDown(true);
    struct Case {
        const char* name;
        StyledButton* button;
        COLORREF fill;  // inside the ring and its gap, typed from the family: hot accent, accent, none
    };
    const Case cases[] = {
        {"run switch, focused", &run, RGB(0x50, 0x90, 0xE0)},
        {"header button, down", &header, RGB(0x3D, 0x84, 0xDD)},
        // A toggle that is not down keeps its face: the filled button is always the selected one.
        {"header button, up", &other, RGB(0xFF, 0xFF, 0xFF)},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        StyledButton* b = c.button;
        SetFocus(b->Handle());
        REQUIRE(GetFocus() == b->Handle());
        SendMessageW(b->Handle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
        CHECK_FALSE(b->FocusCueShown());
        CHECK(SendMessageW(b->Handle(), WM_QUERYUISTATE, 0, 0) == UISF_HIDEFOCUS);
        COLORREF edgeHidden = 0;
        {
            Snapshot s(b->Handle());
            edgeHidden = s.Pixel(s.Width() / 2, 0);
        }
        SendMessageW(b->Handle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        CHECK(b->FocusCueShown());
        CHECK(SendMessageW(b->Handle(), WM_QUERYUISTATE, 0, 0) == 0);
        Snapshot shown(b->Handle());
        // A ring 2 px wide in black round the edge (the middle of each side), a 1 px gap of the white
        // background, then the button's own fill.
        const int w = shown.Width(), h = shown.Height();
        const POINT sides[][4] = {
            {{w / 2, 0}, {w / 2, 1}, {w / 2, 2}, {w / 2, 5}},                  // top: ring, ring, gap, fill
            {{w / 2, h - 1}, {w / 2, h - 2}, {w / 2, h - 3}, {w / 2, h - 6}},  // bottom
            {{0, h / 4}, {1, h / 4}, {2, h / 4}, {5, h / 4}},                  // left, above the caption
            {{w - 1, h / 4}, {w - 2, h / 4}, {w - 3, h / 4}, {w - 6, h / 4}},  // right
        };
        for (const auto& side : sides) {
            CAPTURE(side[0].x);
            CAPTURE(side[0].y);
            CHECK(shown.Pixel(side[0].x, side[0].y) == RGB(0, 0, 0));
            CHECK(shown.Pixel(side[1].x, side[1].y) == RGB(0, 0, 0));
            CHECK(shown.Pixel(side[2].x, side[2].y) == RGB(0xFF, 0xFF, 0xFF));
            CHECK(shown.Pixel(side[3].x, side[3].y) == c.fill);
        }
        CHECK(edgeHidden != RGB(0, 0, 0));  // hidden cues: no ring
        SetFocus(f.focusKeeper);
        CHECK_FALSE(b->FocusCueShown());
    }
}
