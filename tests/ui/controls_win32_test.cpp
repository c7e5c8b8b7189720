// The control layer on real windows under Wine: placement at 96 DPI and after a DPI change, fonts,
// check box and card panel behaviour, clicks reaching their control, and errors that stop at the
// window procedure.
#include <doctest/doctest.h>
#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "../support/wait_win32.h"
#include "ui/activity_indicator_win32.h"
#include "ui/form_win32.h"
#include "ui/image_win32.h"
#include "ui/label_fit_win32.h"
#include "ui/panels_win32.h"
#include "ui/std_controls_win32.h"

using namespace tarnell;

namespace {

RECT RectInParent(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void CheckPlaced(const TControl& control, const Rect96& r96, int dpi) {
    CAPTURE(dpi);
    const RECT r = RectInParent(control.Hwnd());
    CHECK(r.left == MulDiv(r96.left, dpi, 96));
    CHECK(r.top == MulDiv(r96.top, dpi, 96));
    CHECK(r.right - r.left == MulDiv(r96.width, dpi, 96));
    CHECK(r.bottom - r.top == MulDiv(r96.height, dpi, 96));
}

void Pump(DWORD milliseconds) {
    test::PumpFor(milliseconds);
}

int FontHeight(HWND hwnd) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    return lf.lfHeight;
}

struct TestForm {
    TForm form{nullptr, u"Form"};
    TGroupBox* group;
    TCheckBox* check;
    TLabel* label;
    TCardPanel* cards;
    TCard* card0;
    TCard* card1;
    TImage* image;
    TActivityIndicator* indicator;
    int clicks = 0;

    TestForm() {
        form.SetCaption(u"Controls");
        form.SetClientSize96(300, 200);
        form.SetFormFont(TFontSpec{u"Tahoma", -12});
        cards = form.Make<TCardPanel>(u"Cards");
        cards->SetParent(&form);
        cards->SetBounds96({0, 50, 300, 150});
        card0 = form.Make<TCard>(u"Card0", cards);
        card0->SetBounds96({0, 0, 300, 150});
        card1 = form.Make<TCard>(u"Card1", cards);
        card1->SetBounds96({0, 0, 300, 150});
        group = form.Make<TGroupBox>(u"Group");
        group->SetCaption(u"Group");
        group->SetParent(card0);
        group->SetBounds96({15, 7, 270, 61});
        check = form.Make<TCheckBox>(u"Check");
        check->SetCaption(u"Check");
        check->SetParent(group);
        check->SetBounds96({17, 31, 200, 17});
        check->OnClick = [this](TComponent* sender) {
            CHECK(sender == check);
            ++clicks;
        };
        label = form.Make<TLabel>(u"Label");
        label->SetCaption(u"Label");
        label->SetOwnFont(TFontSpec{u"Tahoma", -59, false, false, true});
        label->SetParent(card1);
        label->SetBounds96({8, 41, 283, 81});
        image = form.Make<TImage>(u"Image");
        image->SetParent(&form);
        image->SetBounds96({183, 0, 112, 50});
        indicator = form.Make<TActivityIndicator>(u"Indicator");
        indicator->SetParent(card0);
        indicator->SetBounds96({241, 101, 32, 32});
        form.CreateFormHandle();
    }
};

}  // namespace

TEST_CASE("controls sit at their 96-DPI places, and a DPI change scales places and fonts") {
    TestForm t;
    REQUIRE(t.form.Hwnd());
    const int dpi = t.form.CurrentDpi();
    RECT client;
    GetClientRect(t.form.Hwnd(), &client);
    CHECK(client.right == MulDiv(300, dpi, 96));
    CHECK(client.bottom == MulDiv(200, dpi, 96));
    CheckPlaced(*t.group, {15, 7, 270, 61}, dpi);
    CheckPlaced(*t.check, {17, 31, 200, 17}, dpi);
    CheckPlaced(*t.image, {183, 0, 112, 50}, dpi);
    CheckPlaced(*t.indicator, {241, 101, 32, 32}, dpi);
    CHECK(FontHeight(t.check->Hwnd()) == MulDiv(-12, dpi, 96));
    CHECK(FontHeight(t.label->Hwnd()) == MulDiv(-59, dpi, 96));

    const int other = dpi == 144 ? 96 : 144;
    t.form.ChangeDpi(other);
    CheckPlaced(*t.group, {15, 7, 270, 61}, other);
    CheckPlaced(*t.check, {17, 31, 200, 17}, other);
    CheckPlaced(*t.label, {8, 41, 283, 81}, other);
    CheckPlaced(*t.indicator, {241, 101, 32, 32}, other);
    CHECK(FontHeight(t.check->Hwnd()) == MulDiv(-12, other, 96));
    CHECK(FontHeight(t.label->Hwnd()) == MulDiv(-59, other, 96));
}

TEST_CASE(
    "a check box runs its click handler on every change of state, by code or by the user, and is no tab "
    "stop") {
    TestForm t;
    CHECK((GetWindowLongW(t.check->Hwnd(), GWL_STYLE) & WS_TABSTOP) == 0);
    t.check->SetChecked(true);
    CHECK(t.clicks == 1);
    CHECK(SendMessageW(t.check->Hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED);
    t.check->SetChecked(true);  // no change, no click
    CHECK(t.clicks == 1);
    // A user's click goes through the group box, which hands the notification back to the check box.
    SendMessageW(t.check->Hwnd(), BM_CLICK, 0, 0);
    CHECK(t.clicks == 2);
    CHECK_FALSE(t.check->Checked());
    t.check->SetEnabled(false);
    CHECK_FALSE(IsWindowEnabled(t.check->Hwnd()));
}

TEST_CASE("the card panel shows exactly its active card") {
    TestForm t;
    CHECK(t.cards->ActiveCardIndex() == 0);
    CHECK((GetWindowLongW(t.card0->Hwnd(), GWL_STYLE) & WS_VISIBLE) != 0);
    CHECK((GetWindowLongW(t.card1->Hwnd(), GWL_STYLE) & WS_VISIBLE) == 0);
    t.cards->SetActiveCardIndex(1);
    CHECK((GetWindowLongW(t.card1->Hwnd(), GWL_STYLE) & WS_VISIBLE) != 0);
    CHECK((GetWindowLongW(t.card0->Hwnd(), GWL_STYLE) & WS_VISIBLE) == 0);
    t.cards->SetActiveCardIndex(5);  // no such card: nothing changes
    CHECK(t.cards->ActiveCardIndex() == 1);
}

std::string g_reported;
void RecordError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        g_reported = e.what();
    }
}

TEST_CASE("a click on the image runs its handler; an error from it stops at the window procedure") {
    TestForm t;
    SetUnhandledErrorHandler(&RecordError);
    int clicks = 0;
    t.image->OnClick = [&](TComponent*) {
        ++clicks;
        throw std::runtime_error("handler failed");
    };
    SendMessageW(t.image->Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(t.image->Hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    CHECK(clicks == 1);
    CHECK(g_reported == "handler failed");
    // Released outside the picture: no click.
    SendMessageW(t.image->Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(t.image->Hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(500, 5));
    CHECK(clicks == 1);
    SetUnhandledErrorHandler(nullptr);
}

TEST_CASE("the activity indicator turns only while animating") {
    TestForm t;
    const int start = t.indicator->Frame();
    Pump(350);
    CHECK(t.indicator->Frame() == start);
    t.indicator->SetAnimate(true);
    Pump(450);
    CHECK(t.indicator->Frame() != start);
    t.indicator->SetAnimate(false);
    const int stopped = t.indicator->Frame();
    Pump(300);
    CHECK(t.indicator->Frame() == stopped);
}

TEST_CASE("destroying the window first, then the objects, leaves nothing dangling") {
    auto t = std::make_unique<TestForm>();
    HWND check = t->check->Hwnd();
    DestroyWindow(t->form.Hwnd());
    CHECK_FALSE(IsWindow(check));
    CHECK(t->form.Hwnd() == nullptr);
    t.reset();  // must not touch the destroyed windows
}

TEST_CASE(
    "the title fit shrinks a caption that is too wide, once, and the fitted size survives a DPI change") {
    TestForm t;
    t.label->SetCaption(u"Tarnell");
    FitLabelFont(*t.label);
    CHECK(t.label->OwnFont().height96 == -59);  // fits in 283 pixels: nothing changes

    t.label->SetCaption(u"Tarnell Tarnell Tarnell Tarnell");
    FitLabelFont(*t.label);
    const int fitted = t.label->OwnFont().height96;
    CHECK(fitted > -59);
    CHECK(fitted <= Height96FromPoints(6));  // never below 6 points
    CHECK(PointsFromHeight96(fitted) < 44);
    CHECK(FontHeight(t.label->Hwnd()) == MulDiv(fitted, t.form.CurrentDpi(), 96));

    const int other = t.form.CurrentDpi() == 144 ? 96 : 144;
    t.form.ChangeDpi(other);
    CHECK(t.label->OwnFont().height96 == fitted);
    CHECK(FontHeight(t.label->Hwnd()) == MulDiv(fitted, other, 96));
}

TEST_CASE("font sizes in points and 96-DPI heights convert like the toolkit rounds them") {
    CHECK(PointsFromHeight96(-59) == 44);
    CHECK(PointsFromHeight96(-12) == 9);
    CHECK(Height96FromPoints(44) == -59);
    CHECK(Height96FromPoints(35) == -47);
}
