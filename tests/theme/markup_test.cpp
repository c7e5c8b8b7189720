#include "theme/markup.h"

#include <doctest/doctest.h>

#include <random>
#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {

// Every character 7 pixels wide (9 in bold); as high as the font's character height, 2 more in bold.
class FixedMeasurer final : public TextMeasurer {
  public:
    TextSize Measure(std::u16string_view text, const MarkupFont& font) override {
        const bool bold = (font.style & fsBold) != 0;
        const int h = font.height < 0 ? -font.height : font.height;
        return {int(text.size()) * (bold ? 9 : 7), h + (bold ? 2 : 0)};
    }
};

MarkupFont BaseFont(int charHeight = 15) {
    return {u"Segoe UI", -charHeight, 0, clWindowText};
}

MarkupOptions Label(int width = 500, int height = 33) {
    MarkupOptions o;
    o.width = width;
    o.height = height;
    o.overallVertAlign = TVertAlign::vaCenter;
    return o;
}

MarkupLayout Lay(std::u16string_view text, const MarkupOptions& options = Label(),
                 const MarkupFont& font = BaseFont()) {
    FixedMeasurer measurer;
    return LayoutMarkup(text, font, options, measurer);
}

std::vector<std::u16string> RunTexts(const MarkupLayout& layout) {
    std::vector<std::u16string> texts;
    for (const auto& line : layout.lines)
        for (const auto& run : line.runs) texts.push_back(run.text);
    return texts;
}

std::vector<std::u16string> LineTexts(const MarkupLayout& layout) {
    std::vector<std::u16string> texts;
    for (const auto& line : layout.lines) {
        std::u16string s;
        for (const auto& run : line.runs) s += run.text;
        texts.push_back(s);
    }
    return texts;
}

using Texts = std::vector<std::u16string>;

const std::u16string kEnglishTagline = u"<C><FC:clGray>Easily improve <B>game responsiveness</B>.</FC></C>";

}  // namespace

TEST_CASE("the English home text is one centred gray line with a bold run and the period glued to it") {
    const MarkupLayout layout = Lay(kEnglishTagline);
    CHECK(layout.errors.empty());
    REQUIRE(layout.lines.size() == 1);
    const auto& runs = layout.lines[0].runs;
    CHECK(RunTexts(layout) ==
          Texts{u"Easily", u" ", u"improve", u" ", u"game", u" ", u"responsiveness", u"."});
    // 42 + 7 + 49 + 7 + (4 + 1 + 14) * 9 + 7 = 283; (500 - 283) / 2 = 108.5, to even 108.
    CHECK(layout.lines[0].width == 283);
    CHECK(runs.front().x == 108);
    for (size_t i = 1; i < runs.size(); ++i) CHECK(runs[i].x == runs[i - 1].x + runs[i - 1].width);
    for (const auto& run : runs) {
        CAPTURE(Utf16ToUtf8(run.text));
        CHECK(run.font.color == clGray);
        CHECK(run.font.face == u"Segoe UI");
        CHECK(run.font.height == -15);
        const bool inBold = run.x >= runs[4].x && run.x < runs[7].x;
        CHECK(((run.font.style & fsBold) != 0) == inBold);
    }
    // The bold line is 17 high: the block (17) starts 8 down, regular runs sit at the line's top.
    CHECK(layout.lines[0].height == 17);
    CHECK(runs[0].y == 8);
}

TEST_CASE("tag names in any letter case act alike") {
    const MarkupLayout upper = Lay(kEnglishTagline);
    const MarkupLayout lower = Lay(u"<c><fc:clgray>Easily improve <b>game responsiveness</b>.</fc></c>");
    CHECK(lower.errors.empty());
    REQUIRE(lower.lines.size() == 1);
    REQUIRE(lower.lines[0].runs.size() == upper.lines[0].runs.size());
    for (size_t i = 0; i < upper.lines[0].runs.size(); ++i) {
        const MarkupRun &a = upper.lines[0].runs[i], &b = lower.lines[0].runs[i];
        CHECK(a.text == b.text);
        CHECK(a.font == b.font);
        CHECK(a.x == b.x);
        CHECK(a.y == b.y);
    }
}

TEST_CASE("B with the parameter off removes bold inside a bold run") {
    for (const char16_t* text :
         {u"<B>a <B:off>b</B> c</B>", u"<B>a <b: OFF >b</b> c</B>", u"<B>a < B :off>b</B> c</B>"}) {
        const MarkupLayout layout = Lay(text);
        CHECK(layout.errors.empty());
        REQUIRE(RunTexts(layout) == Texts{u"a", u" ", u"b", u" ", u"c"});
        const auto& runs = layout.lines[0].runs;
        CHECK((runs[0].font.style & fsBold) != 0);
        CHECK((runs[2].font.style & fsBold) == 0);
        CHECK((runs[4].font.style & fsBold) != 0);
    }
    // Any other parameter adds bold.
    CHECK((Lay(u"<B:yes>a</B>").lines[0].runs[0].font.style & fsBold) != 0);
}

TEST_CASE("an FC block closed while a B block is open stays open to the end") {
    const std::u16string text = u"<FC:clGray><B>x</FC>y</B>z";
    const MarkupLayout layout = Lay(text);
    REQUIRE(layout.errors.size() == 2);
    CHECK(layout.errors[0] == MarkupError{15, u"</fc> - Not the current tag to close"});
    CHECK(layout.errors[1] == MarkupError{text.size(), u"Missing closing tag <fc>"});
    CHECK(RunTexts(layout) == Texts{u"x", u"<?>", u"y", u"z", u"<?>"});
    const auto& runs = layout.lines[0].runs;
    for (const auto& run : runs) CHECK(run.font.color == clGray);
    CHECK((runs[2].font.style & fsBold) != 0);
    CHECK((runs[3].font.style & fsBold) == 0);
}

TEST_CASE("every malformed tag records its error and shows the marker in its place") {
    struct Case {
        const char16_t* text;
        size_t position;
        const char16_t* description;
    };
    const Case cases[] = {
        {u"a<FC>b", 1, u"<fc> - Parameter required"},
        {u"a<FC:>b", 1, u"<fc:> - Blank parameter specified"},
        {u"a<FC:  >b", 1, u"<fc:  > - Blank parameter specified"},
        {u"a<FC:clNothing>b", 1, u"<fc:clnothing> - Invalid parameter"},
        {u"a<FC:clNone>b", 1, u"<fc:clnone> - Invalid parameter"},
        {u"a<C:x>b", 1, u"<c:x> - Parameter not allowed"},
        {u"a<Q>b", 1, u"<q> - Invalid tag"},
        // Without a ":" the name is taken as written, blanks included.
        {u"a<B >b", 1, u"<b > - Invalid tag"},
        {u"a< C>b", 1, u"< c> - Invalid tag"},
        {u"a</B >b", 1, u"</b > - Invalid tag"},
        {u"a< >b", 1, u"< > - Invalid tag"},
        {u"a<>b", 1, u"<> - Blank tag"},
        {u"a<:x>b", 1, u"<:x> - Blank tag"},
        {u"a< :x>b", 1, u"< :x> - Blank tag"},
        {u"a</B:x>b", 1, u"</b:x> - Parameter not allowed in closing tag"},
        {u"a</BR>b", 1, u"</br> - Single tag does not allow closing tag"},
        {u"a</B>b", 1, u"</b> - Not the current tag to close"},
        {u"a<b", 1, u"Char \"<\" left alone"},
        {u"a>b", 1, u"Char \">\" left alone"},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.text));
        const MarkupLayout layout = Lay(c.text);
        REQUIRE(layout.errors.size() == 1);
        CHECK(layout.errors[0] == MarkupError{c.position, c.description});
        CHECK(RunTexts(layout) == Texts{u"a", u"<?>", u"b"});
        CHECK(layout.lines[0].runs[1].breakable);
        CHECK((layout.lines[0].runs[2].font.style & fsBold) == 0);
    }
}

TEST_CASE("blocks left open are reported innermost first and each adds a marker at the end") {
    const MarkupLayout layout = Lay(u"<C><B>a");
    REQUIRE(layout.errors.size() == 2);
    CHECK(layout.errors[0] == MarkupError{7, u"Missing closing tag <b>"});
    CHECK(layout.errors[1] == MarkupError{7, u"Missing closing tag <c>"});
    CHECK(RunTexts(layout) == Texts{u"a", u"<?>", u"<?>"});
    for (const auto& run : layout.lines[0].runs) CHECK((run.font.style & fsBold) != 0);
}

TEST_CASE("deep nesting lays out without exhausting the stack") {
    // 60,000 levels: deeper than the default stacks (1 to 8 MB) allow a walk that recurses per level.
    constexpr size_t kDepth = 60000;
    auto repeat = [](std::u16string_view piece, size_t n) {
        std::u16string s;
        s.reserve(piece.size() * n);
        for (size_t i = 0; i < n; ++i) s += piece;
        return s;
    };
    struct Case {
        const char* what;
        std::u16string text;
        size_t errors;  // all "Missing closing tag <b>", at the end of the text
        bool bold;
    };
    const Case cases[] = {
        {"closed", repeat(u"<B>", kDepth) + u"x" + repeat(u"</B>", kDepth), 0, true},
        {"left open, off at the bottom", repeat(u"<B>", kDepth) + u"<B:off>x", kDepth + 1, false},
    };
    for (const Case& c : cases) {
        INFO(c.what);
        const MarkupLayout layout = Lay(c.text, Label(500, 33));
        REQUIRE(layout.errors.size() == c.errors);
        for (const auto& error : layout.errors) {
            if (error != MarkupError{c.text.size(), u"Missing closing tag <b>"}) {
                CHECK(error == MarkupError{c.text.size(), u"Missing closing tag <b>"});
                break;
            }
        }
        REQUIRE_FALSE(layout.lines.empty());
        const MarkupRun& x = layout.lines[0].runs.front();
        CHECK(x.text == u"x");
        CHECK(((x.font.style & fsBold) != 0) == c.bold);
    }
}

TEST_CASE("escaped angle brackets show a tag as text; a lone < is a marker and the rest stays plain") {
    const MarkupLayout escaped = Lay(u"&lt;B&gt;x&lt;/B&gt; &amp;lt;");
    CHECK(escaped.errors.empty());
    CHECK(LineTexts(escaped) == Texts{u"<B>x</B> &lt;"});
    for (const auto& run : escaped.lines[0].runs) CHECK((run.font.style & fsBold) == 0);

    const MarkupLayout lone = Lay(u"a <B>b</B> < c");
    REQUIRE(lone.errors.size() == 1);
    CHECK(lone.errors[0] == MarkupError{11, u"Char \"<\" left alone"});
    CHECK(RunTexts(lone) == Texts{u"a", u" ", u"b", u" ", u"<?>", u" ", u"c"});
    CHECK((lone.lines[0].runs[2].font.style & fsBold) != 0);
    CHECK((lone.lines[0].runs[6].font.style & fsBold) == 0);
}

TEST_CASE("words end at stop characters; ideographs and separators are breakable words of their own") {
    struct Case {
        const char16_t* text;
        Texts runs;
        std::vector<bool> breakable;
    };
    const Case cases[] = {
        {u"a/b\\c", {u"a", u"/", u"b", u"\\", u"c"}, {false, true, false, true, false}},
        {u"게임 반응", {u"게임", u" ", u"반응"}, {false, true, false}},
        {u"日本語です", {u"日", u"本", u"語", u"です"}, {true, true, true, false}},
        {u"x\u3400\uF900y", {u"x", u"\u3400", u"\uF900", u"y"}, {false, true, true, false}},
        {u"don't-stop!", {u"don't-stop!"}, {false}},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.text));
        const MarkupLayout layout = Lay(c.text);
        REQUIRE(RunTexts(layout) == c.runs);
        for (size_t i = 0; i < c.runs.size(); ++i) CHECK(layout.lines[0].runs[i].breakable == c.breakable[i]);
    }
}

TEST_CASE("wrapping drops the space at the break and centres each line by itself") {
    // 28-pixel words, 7-pixel spaces, 60 pixels available.
    const MarkupLayout layout = Lay(u"<C>aaaa bbbb cccc</C>", Label(60, 100));
    CHECK(LineTexts(layout) == Texts{u"aaaa", u"bbbb", u"cccc"});
    for (const auto& line : layout.lines) {
        CHECK(line.width == 28);
        REQUIRE(line.runs.size() == 1);
        CHECK(line.runs[0].x == 16);  // (60 - 28) / 2
    }

    const MarkupLayout fits = Lay(u"aaaa bbbb cccc", Label(98, 33));
    CHECK(LineTexts(fits) == Texts{u"aaaa bbbb cccc"});
    const MarkupLayout wraps = Lay(u"aaaa bbbb cccc", Label(97, 33));
    CHECK(LineTexts(wraps) == Texts{u"aaaa bbbb", u"cccc"});
}

TEST_CASE("ideographs break anywhere; Korean breaks only at its spaces") {
    CHECK(LineTexts(Lay(u"日本語です", Label(20, 33))) == Texts{u"日本", u"語", u"です"});
    CHECK(LineTexts(Lay(u"게임 반응속도", Label(30, 33))) == Texts{u"게임", u"반응속도"});
}

TEST_CASE("a space that itself overflows is dropped; after two spaces the second one leads the new line") {
    CHECK(LineTexts(Lay(u"aaaa bbbb", Label(30, 33))) == Texts{u"aaaa", u"bbbb"});
    CHECK(LineTexts(Lay(u"aaaa  bbbb", Label(40, 33))) == Texts{u"aaaa", u" bbbb"});
}

TEST_CASE("a line that wrapping leaves without runs is as high as a space") {
    struct Case {
        const char16_t* text;
        int width;
        Texts lines;
        std::vector<int> heights;
        int wordTop;  // in a 100-pixel label, centred: (100 - text height) / 2 + the lines above
    };
    const Case cases[] = {
        {u" aaaaaaaaaa", 70, {u"", u"aaaaaaaaaa"}, {15, 15}, 35 + 15},
        {u"a\n aaaaaaaaaa", 70, {u"a", u"", u"aaaaaaaaaa"}, {15, 15, 15}, 28 + 30},
        // The current font is bold where the word that wrapped is: a bold space is 17 high.
        {u"<B> aaaaaaaaaa</B>", 90, {u"", u"aaaaaaaaaa"}, {17, 17}, 33 + 17},
        {u" <B>aaaaaaaaaa</B>", 90, {u"", u"aaaaaaaaaa"}, {17, 17}, 33 + 17},
    };
    for (const Case& c : cases) {
        CAPTURE(Utf16ToUtf8(c.text));
        const MarkupLayout layout = Lay(c.text, Label(c.width, 100));
        CHECK(LineTexts(layout) == c.lines);
        std::vector<int> heights;
        for (const auto& line : layout.lines) heights.push_back(line.height);
        CHECK(heights == c.heights);
        int sum = 0;
        for (int h : c.heights) sum += h;
        CHECK(layout.textHeight == sum);
        // The word sits below the empty line, inside the vertically centred block.
        CHECK(layout.lines.back().runs.front().y == c.wordTop);
    }
}

TEST_CASE("glued runs wrap as one group; a group wider than the line overflows on its own line") {
    // ab + cd (bold) + ef = 14 + 18 + 14 = 46 pixels, kept together.
    const MarkupLayout glued = Lay(u"xx ab<B>cd</B>ef", Label(50, 33));
    CHECK(LineTexts(glued) == Texts{u"xx", u"abcdef"});
    CHECK(glued.lines[1].width == 46);

    const MarkupLayout wide = Lay(u"abcdefgh ij", Label(20, 33));
    CHECK(LineTexts(wide) == Texts{u"abcdefgh", u"ij"});
    CHECK(wide.lines[0].width == 56);
}

TEST_CASE("vertical centring in a 33-pixel label rounds halves to even") {
    struct Case {
        const char16_t* text;
        int charHeight;
        int firstTop;
        int textHeight;
    };
    const Case cases[] = {
        {u"a\r\nb", 15, 2, 30},  // 1.5 -> 2
        {u"a\nb", 16, 0, 32},    // 0.5 -> 0
        {u"a<BR>b", 15, 2, 30},
        {u"a", 15, 9, 15},
        {u"a\r\nb\nc", 15, -6, 45},  // -6 exactly: the block overflows upwards
        {u"a\rb\nc", 13, -3, 39},    // -3 exactly
        {u"a\nb\nc", 11, 0, 33},
        {u"a\n\nb", 12, -2, 36},  // -1.5 -> -2; the empty middle line is a space high
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.text));
        const MarkupLayout layout = Lay(c.text, Label(), BaseFont(c.charHeight));
        CHECK(layout.textHeight == c.textHeight);
        CHECK(layout.lines.front().runs.front().y == c.firstTop);
        for (const auto& line : layout.lines) CHECK(line.height == c.charHeight);
    }
}

TEST_CASE("line height is its highest run; runs align inside it by their vertical alignment") {
    struct Case {
        TVertAlign align;
        int regularY;
    };
    for (const Case c :
         {Case{TVertAlign::vaTop, 0}, Case{TVertAlign::vaCenter, 1}, Case{TVertAlign::vaBottom, 2}}) {
        MarkupOptions options = Label(500, 17);
        options.lineVertAlign = c.align;
        const MarkupLayout layout = Lay(u"a <B>b</B>", options);
        REQUIRE(layout.lines.size() == 1);
        CHECK(layout.lines[0].height == 17);
        CHECK(layout.lines[0].runs[0].y == c.regularY);
        CHECK(layout.lines[0].runs[2].y == 0);
    }
}

TEST_CASE("horizontal alignment by line and for the whole block") {
    MarkupOptions options = Label(100, 100);
    options.overallVertAlign = TVertAlign::vaTop;

    options.lineHorzAlign = THorzAlign::haRight;
    CHECK(Lay(u"aaaa", options).lines[0].runs[0].x == 72);

    // Block centred on its widest line (28): lines keep their left edges, or centre on the widest line.
    options.overallHorzAlign = THorzAlign::haCenter;
    options.lineHorzAlign = THorzAlign::haLeft;
    MarkupLayout layout = Lay(u"aaaa\nbb", options);
    CHECK(layout.lines[0].runs[0].x == 36);
    CHECK(layout.lines[1].runs[0].x == 36);
    options.lineHorzAlign = THorzAlign::haCenter;
    layout = Lay(u"aaaa\nbb", options);
    CHECK(layout.lines[1].runs[0].x == 43);

    options.overallHorzAlign = THorzAlign::haRight;
    options.lineHorzAlign = THorzAlign::haLeft;
    CHECK(Lay(u"aaaa", options).lines[0].runs[0].x == 72);

    // Borders narrow the available width and offset the block.
    MarkupOptions bordered = Label(110, 33);
    bordered.borderLeft = 6;
    bordered.borderRight = 4;
    const MarkupLayout b = Lay(u"<C>aaaa</C>", bordered);
    CHECK(b.lines[0].runs[0].x == 6 + 36);
}

TEST_CASE("line breaks: hard with AutoBreak, soft without it or after NBR") {
    CHECK(LineTexts(Lay(u"a\r\nb")) == Texts{u"a", u"b"});

    MarkupOptions soft = Label();
    soft.autoBreak = false;
    CHECK(LineTexts(Lay(u"a\r\nb", soft)) == Texts{u"a b"});
    CHECK(LineTexts(Lay(u"a \nb", soft)) == Texts{u"a b"});  // the line already ends in a space
    CHECK(LineTexts(Lay(u"a\n<nbr>b")) == Texts{u"a b"});
}

TEST_CASE("without word wrap only line breaks start lines; alignment still uses the label's width") {
    MarkupOptions options = Label(60, 100);
    options.wordWrap = false;
    const MarkupLayout layout = Lay(u"<C>aaaa bbbb cccc</C>\ndd", options);
    CHECK(LineTexts(layout) == Texts{u"aaaa bbbb cccc", u"dd"});
    CHECK(layout.lines[0].runs[0].x == HalfRoundedToEven(60 - 98));  // overflows evenly on both sides
}

TEST_CASE("the label's text drops one final line break, as its list of lines does") {
    struct Case {
        const char16_t *in, *out;
    };
    const Case cases[] = {
        {u"a", u"a"},       {u"a\r\n", u"a"}, {u"a\n", u"a"}, {u"a\r", u"a"}, {u"a\r\n\r\n", u"a\r\n"},
        {u"a\n\n", u"a\n"}, {u"", u""},       {u"\r\n", u""},
    };
    for (const auto& c : cases) {
        CAPTURE(Utf16ToUtf8(c.in));
        CHECK(MarkupLabelText(c.in) == c.out);
    }
    // So a final break adds no empty line to the vertically centred block.
    CHECK(Lay(MarkupLabelText(u"a\r\n")).lines.size() == 1);
}

TEST_CASE("an empty text lays out no runs and records no errors") {
    const MarkupLayout layout = Lay(u"");
    CHECK(layout.errors.empty());
    CHECK(RunTexts(layout).empty());
}

TEST_CASE("FC accepts colour names of the table in any letter case") {
    TColor c = 0;
    CHECK(MarkupColorFromName(u"clGray", c));
    CHECK(c == clGray);
    CHECK(MarkupColorFromName(u"CLGRAY", c));
    CHECK(MarkupColorFromName(u"clRed", c));
    CHECK(c == 0x0000FF);
    CHECK_FALSE(MarkupColorFromName(u"clNone", c));
    CHECK_FALSE(MarkupColorFromName(u"gray", c));
    CHECK_FALSE(MarkupColorFromName(u"$808080", c));
}

TEST_CASE("HalfRoundedToEven") {
    const int cases[][2] = {{0, 0}, {1, 0},  {2, 1},   {3, 2},   {5, 2},
                            {7, 4}, {-1, 0}, {-3, -2}, {-5, -2}, {-4, -2}};
    for (const auto& c : cases) {
        CAPTURE(c[0]);
        CHECK(HalfRoundedToEven(c[0]) == c[1]);
    }
}

TEST_CASE("any markup lays out, with exactly one marker per recorded error") {
    // Pieces that make well-formed and broken tags in every mix; no "&" so no text spells a marker.
    const char16_t* pieces[] = {u"<",     u">",         u"/",     u":",    u"B",    u"b",    u"C",
                                u"FC",    u"fc:clGray", u"off",   u" ",    u"\r\n", u"\n",   u"x",
                                u"word",  u"日",        u"<B>",   u"</B>", u"<C>",  u"</C>", u"<FC:clGray>",
                                u"</FC>", u"<BR>",      u"<NBR>", u"\\"};
    std::mt19937 random(20261210);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(0, 24);
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        for (size_t n = length(random); n > 0; --n) text += pieces[pick(random)];
        CAPTURE(Utf16ToUtf8(text));
        MarkupOptions options = Label(40, 33);
        options.autoBreak = round % 2 == 0;
        const MarkupLayout layout = Lay(text, options);
        size_t markers = 0;
        for (const auto& line : layout.lines) {
            for (const auto& run : line.runs) {
                CHECK_FALSE(run.text.empty());
                if (run.text == kMarkupFaultMarker) ++markers;
            }
        }
        CHECK(markers == layout.errors.size());
        for (const auto& error : layout.errors) CHECK(error.position <= text.size());
    }
}
