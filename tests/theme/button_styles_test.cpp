#include "theme/button_styles.h"

#include <doctest/doctest.h>

#include <string>

#include "base/text.h"

using namespace tarnell;

namespace {

constexpr auto Solid = TButtonDrawStyle::btnSolid;
constexpr auto Clear = TButtonDrawStyle::btnClear;
constexpr auto BSolid = TBorderDrawStyle::brdSolid;
constexpr auto BClear = TBorderDrawStyle::brdClear;
constexpr TColor Hot10 = 0x00E09050;

struct Cell {
    TButtonDrawStyle fill;
    TColor buttonColor;
    TBorderDrawStyle border;
    TColor borderColor;
    TColor fontColor;
};

struct AppearanceTable {
    const char16_t* appearance;
    Cell cells[kButtonStateCount];  // Normal, Pressed, Selected, Hot, Disabled
};

const AppearanceTable kTables[] = {
    {u"Normal",
     {{Solid, AccentColor, BSolid, AccentColor, clWhite},
      {Solid, AccentColor, BSolid, AccentColor, clWhite},
      {Solid, AccentColor, BSolid, AccentColor, clWhite},
      {Solid, Hot10, BSolid, AccentColor, clWhite},
      {Solid, clWhite, BSolid, clSilver, clSilver}}},
    {u"Outline",
     {{Clear, AccentColor, BSolid, AccentColor, clBlack},
      {Solid, AccentColor, BSolid, AccentColor, clWhite},
      {Solid, Hot10, BSolid, AccentColor, clWhite},
      {Solid, Hot10, BSolid, AccentColor, clWhite},
      {Clear, AccentColor, BSolid, 0x00D7D7D7, 0x00B3B3B3}}},
    {u"Header",
     {{Clear, clWhite, BSolid, clBlack, clBlack},
      {Solid, AccentColor, BClear, AccentColor, clWhite},
      {Solid, Hot10, BClear, AccentColor, clWhite},
      {Solid, AccentColor, BClear, AccentColor, clWhite},
      {Clear, clWhite, BSolid, 0x00BCBCBC, 0x00808080}}},
};

const char* kStateNames[] = {"Normal", "Pressed", "Selected", "Hot", "Disabled"};

TStyledButtonRecords Fill(std::u16string_view appearance, const TStyledButtonAttributes& start = {}) {
    TStyledButtonRecords r;
    r.fill(start);
    TVorbeckButtonStyles().FillAttributes(u"Vorbeck", u"Primary", appearance, r[0], r[1], r[2], r[3], r[4]);
    return r;
}

void CheckTable(const AppearanceTable& table, const TStyledButtonRecords& records) {
    for (size_t s = 0; s < kButtonStateCount; ++s) {
        CAPTURE(kStateNames[s]);
        const Cell& cell = table.cells[s];
        const TStyledButtonAttributes& r = records[s];
        CHECK(r.ButtonDrawStyle == cell.fill);
        CHECK(r.ButtonColor == cell.buttonColor);
        CHECK(r.BorderDrawStyle == cell.border);
        CHECK(r.BorderColor == cell.borderColor);
        CHECK(r.FontColor == cell.fontColor);
        CHECK(r.DrawType == TStyledButtonDrawType::btRoundRect);
        CHECK(r.BorderWidth == 0);
        CHECK(r.FontStyle == 0);
    }
}

}  // namespace

TEST_CASE("FillAttributes: every cell of the three appearances, from fresh and from used records") {
    TStyledButtonAttributes used;
    used.DrawType = TStyledButtonDrawType::btEllipse;
    used.ButtonDrawStyle = TButtonDrawStyle::btnClear;
    used.BorderDrawStyle = TBorderDrawStyle::brdClear;
    used.ButtonColor = used.BorderColor = used.FontColor = 0x00123456;
    used.BorderWidth = 3;
    used.FontStyle = fsBold | fsItalic;

    for (const auto& table : kTables) {
        CAPTURE(Utf16ToUtf8(table.appearance));
        CheckTable(table, Fill(table.appearance));
        CheckTable(table, Fill(table.appearance, used));
    }
}

TEST_CASE("FillAttributes classifies the appearance without regard to letter case") {
    struct Case {
        const char16_t* appearance;
        size_t table;
    };
    const Case cases[] = {
        {u"outline", 1}, {u"OUTLINE", 1}, {u"oUtLiNe", 1}, {u"header", 2},   {u"HEADER", 2},
        {u"Normal", 0},  {u"Primary", 0}, {u"", 0},        {u"Outlined", 0}, {u"Head", 0},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.appearance));
        CheckTable(kTables[c.table], Fill(c.appearance));
    }
}

TEST_CASE(
    "FillAttributes copies the Normal record whole, leaving radius and corners as the toolkit gave them") {
    TStyledButtonAttributes start;
    start.Radius = 9;
    start.RoundedCorners = rcTopLeft | rcBottomRight;
    TStyledButtonRecords r;
    r.fill(TStyledButtonAttributes{});
    r[0] = start;
    TVorbeckButtonStyles().FillAttributes(u"", u"", u"Outline", r[0], r[1], r[2], r[3], r[4]);
    for (const auto& record : r) {
        CHECK(record.Radius == 9);
        CHECK(record.RoundedCorners == (rcTopLeft | rcBottomRight));
    }
}

TEST_CASE("the family's name, lists and default style") {
    const TVorbeckButtonStyles family;
    CHECK(family.GetFamilyName() == u"Vorbeck");
    CHECK(family.GetClassList() == TButtonClasses{u"Primary"});
    CHECK(family.GetAppearanceList() == TButtonAppearances{u"Normal", u"Header", u"Outline"});
    CHECK(&family.GetClassList() == &TVorbeckButtonStyles().GetClassList());  // one shared list

    for (int modalResult : {mrNone, 1, 2, 7, -1}) {
        std::u16string cls = u"x", appearance = u"y";
        family.GetDefaultStyle(modalResult, cls, appearance);
        CHECK(cls == u"Primary");
        CHECK(appearance == u"Normal");
    }
}

TEST_CASE("the family registry finds families by name in any letter case") {
    TButtonFamilyRegistry registry;
    CHECK(registry.Find(u"Vorbeck") == nullptr);
    registry.Register(std::make_unique<TVorbeckButtonStyles>());
    const IStyledButtonAttributes* found = registry.Find(u"vorbeck");
    REQUIRE(found != nullptr);
    CHECK(registry.Find(u"VORBECK") == found);
    CHECK(registry.Find(u"Vorbeck ") == nullptr);
    CHECK(registry.Find(u"Other") == nullptr);

    registry.Register(std::make_unique<TVorbeckButtonStyles>());  // the same name replaces
    CHECK(registry.Count() == 1);
    registry.Clear();
    CHECK(registry.Find(u"Vorbeck") == nullptr);
}

TEST_CASE("the style check replaces names by the list's spelling or by the default") {
    struct Case {
        const char16_t *cls, *appearance, *expectedClass, *expectedAppearance;
        bool valid;
    };
    const Case cases[] = {
        {u"primary", u"outline", u"Primary", u"Outline", true},
        {u"PRIMARY", u"HEADER", u"Primary", u"Header", true},
        {u"Primary", u"normal", u"Primary", u"Normal", true},
        {u"Secondary", u"Header", u"Primary", u"Header", false},
        {u"Primary", u"Fancy", u"Primary", u"Normal", false},
        {u"", u"", u"Primary", u"Normal", false},
    };
    const TVorbeckButtonStyles family;
    for (const auto& c : cases) {
        std::u16string cls = c.cls, appearance = c.appearance;
        CAPTURE(Utf16ToUtf8(cls));
        CAPTURE(Utf16ToUtf8(appearance));
        CHECK(CheckButtonStyle(family, cls, appearance) == c.valid);
        CHECK(cls == c.expectedClass);
        CHECK(appearance == c.expectedAppearance);
    }
}

TEST_CASE("ApplyButtonStyle fills a valid combination and leaves the records alone otherwise") {
    TButtonFamilyRegistry registry;
    registry.Register(std::make_unique<TVorbeckButtonStyles>());

    TStyledButtonRecords records;
    TStyledButtonAttributes marker;
    marker.ButtonColor = 0x00123456;
    records.fill(marker);

    std::u16string cls = u"Primary", appearance = u"Unknown";
    CHECK_FALSE(ApplyButtonStyle(registry, u"vorbeck", cls, appearance, records));
    CHECK(appearance == u"Normal");
    CHECK(records[0].ButtonColor == 0x00123456);

    cls = u"Primary";
    appearance = u"outline";
    CHECK_FALSE(ApplyButtonStyle(registry, u"NoSuchFamily", cls, appearance, records));
    CHECK(appearance == u"outline");
    CHECK(records[0].ButtonColor == 0x00123456);

    CHECK(ApplyButtonStyle(registry, u"VORBECK", cls, appearance, records));
    CHECK(appearance == u"Outline");
    CheckTable(kTables[1], records);
    CHECK(records[0].Radius == 6);  // a fresh record's radius
}

TEST_CASE("the process-wide registry holds the program's family between start-up and shut-down") {
    RegisterVorbeckButtonStyles();
    const IStyledButtonAttributes* family = ButtonFamilyRegistry().Find(u"Vorbeck");
    REQUIRE(family != nullptr);
    CHECK(family->GetFamilyName() == u"Vorbeck");
    UnregisterButtonStyles();
    CHECK(ButtonFamilyRegistry().Find(u"Vorbeck") == nullptr);
}
