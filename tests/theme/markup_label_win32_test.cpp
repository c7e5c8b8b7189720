#include "theme/markup_label_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <string>

#include "theme/gdi_win32.h"
#include "win32_test_support.h"

using namespace tarnell;
using theme_test::Snapshot;

namespace {

struct Fixture {
    Fixture() {
        form = theme_test::CreateTopLevel(L"labels", WS_OVERLAPPEDWINDOW, 600, 300);
        font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
    }
    ~Fixture() {
        DestroyWindow(form);
        DeleteObject(font);
    }
    MarkupLabel& Make(const std::u16string& text, int y = 0, int width = 500, int height = 33) {
        MarkupLabelConfig config;
        config.overallVertAlign = TVertAlign::vaCenter;
        HWND hwnd = MarkupLabel::Create(form, 0, y, width, height, config);
        REQUIRE(hwnd);
        MarkupLabel* label = MarkupLabel::FromHandle(hwnd);
        REQUIRE(label);
        label->SetFont(font);
        label->SetText(text);
        return *label;
    }
    int Measure(const std::wstring& text, bool bold) {
        HFONT f = CreateStyledFont(font, bold ? fsBold : 0);
        HDC dc = GetDC(form);
        HGDIOBJ old = SelectObject(dc, f);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(form, dc);
        DeleteObject(f);
        return size.cx;
    }
    HWND form = nullptr;
    HFONT font = nullptr;
};

// The right-most column holding a pixel that is not the background.
int InkRight(const Snapshot& s, COLORREF background) {
    for (int x = s.Width() - 1; x >= 0; --x)
        for (int y = 0; y < s.Height(); ++y)
            if (s.Pixel(x, y) != background) return x;
    return -1;
}

}  // namespace

TEST_CASE("words are measured with GDI in the label's font; bold runs measure and paint wider") {
    Fixture f;
    MarkupLabel& plain = f.Make(u"Wide words", 0);
    MarkupLabel& bold = f.Make(u"<B>Wide words</B>", 40);
    REQUIRE(plain.Layout().lines.size() == 1);
    REQUIRE(bold.Layout().lines.size() == 1);
    const auto& plainRuns = plain.Layout().lines[0].runs;
    const auto& boldRuns = bold.Layout().lines[0].runs;
    REQUIRE(plainRuns.size() == 3);
    CHECK(plainRuns[0].width == f.Measure(L"Wide", false));
    CHECK(boldRuns[0].width == f.Measure(L"Wide", true));
    CHECK(bold.Layout().lines[0].width > plain.Layout().lines[0].width);

    Snapshot plainShot(plain.Handle()), boldShot(bold.Handle());
    const int plainRight = InkRight(plainShot, RGB(255, 255, 255));
    const int boldRight = InkRight(boldShot, RGB(255, 255, 255));
    CHECK(plainRight > 0);
    CHECK(boldRight > plainRight);
}

TEST_CASE("the tagline paints centred in gray over the label's colour, with no prefix processing") {
    Fixture f;
    MarkupLabel& label = f.Make(u"<C><FC:clGray>Easily &amp; <B>game</B> a&b</FC></C>");
    CHECK(label.Errors().empty());
    REQUIRE(label.Layout().lines.size() == 1);
    const auto& runs = label.Layout().lines[0].runs;
    CHECK(runs.back().text == u"a&b");
    const int width = label.Layout().lines[0].width;
    CHECK(runs.front().x == HalfRoundedToEven(500 - width));
    CHECK(runs.front().y == HalfRoundedToEven(33 - label.Layout().textHeight));

    label.SetColor(RgbColor(250, 240, 230));
    Snapshot s(label.Handle());
    CHECK(s.Pixel(0, 0) == RGB(250, 240, 230));
    CHECK(s.Pixel(499, 32) == RGB(250, 240, 230));
    const RECT textArea{runs.front().x, 0, runs.front().x + width, 33};
    CHECK(s.Count([](COLORREF c) { return c == RGB(128, 128, 128); }, textArea) > 10);
    CHECK(s.Count([](COLORREF c) { return c == RGB(0, 0, 0); }, RECT{0, 0, 500, 33}) == 0);
}

TEST_CASE("the layout follows the text, the font and the size; malformed markup shows markers") {
    Fixture f;
    MarkupLabel& label = f.Make(u"<FC:nothing>x");
    REQUIRE(label.Errors().size() == 1);
    CHECK(label.Errors()[0].description == u"<fc:nothing> - Invalid parameter");
    label.SetText(u"one two three four five six seven eight nine ten");
    CHECK(label.Errors().empty());
    CHECK(label.Layout().lines.size() == 1);
    SetWindowPos(label.Handle(), nullptr, 0, 0, 120, 100, SWP_NOMOVE | SWP_NOZORDER);
    CHECK(label.Layout().lines.size() > 1);
    for (const auto& line : label.Layout().lines) {
        CHECK(line.width <= 120);
        CHECK(line.runs.front().text != u" ");
        CHECK(line.runs.back().text != u" ");
    }

    HFONT big =
        CreateFontW(-30, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    const int before = label.Layout().textHeight;
    SendMessageW(label.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(big), TRUE);
    CHECK(label.Layout().textHeight > before);
    label.SetFont(f.font);
    DeleteObject(big);

    label.SetText(u"");
    Snapshot s(label.Handle());
    CHECK(s.Count([](COLORREF c) { return c != RGB(255, 255, 255); }, RECT{0, 0, 120, 100}) == 0);
}
