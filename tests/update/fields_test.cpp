#include "update/fields.h"

#include <doctest/doctest.h>

#include "base/text.h"

using namespace tarnell;

namespace {
const std::u16string kQuote = u"\"";
}

TEST_CASE("FindBetween returns the text between the markers and where the search ended") {
    struct Case {
        const char* what;
        std::u16string text, start, end;
        int32_t positionIn;
        std::u16string value;
        int32_t positionOut;
    };
    const Case cases[] = {
        {"plain field", u"{\"a\":\"xy\"}", u"\"a\":\"", kQuote, 1, u"xy", 10},
        {"markers fold a-z only", u"{\"UPDATE\":\"Xy\"}", u"\"update\":\"", kQuote, 1, u"Xy", 15},
        {"non-ASCII letters are not folded", u"[Ä:v]", u"ä:", u"]", 1, u"", 0},
        {"search starts at the given position", u"k=1;k=2;", u"k=", u";", 4, u"2", 9},
        {"a position past the first hit finds the next", u"k=1;k=2;", u"k=", u";", 2, u"2", 9},
        {"position 0 finds nothing", u"k=1;", u"k=", u";", 0, u"", 0},
        {"negative position finds nothing", u"k=1;", u"k=", u";", -5, u"", 0},
        {"position past the end finds nothing", u"k=1;", u"k=", u";", 99, u"", 0},
        {"start marker missing", u"{\"a\":\"x\"}", u"\"b\":\"", kQuote, 1, u"", 0},
        {"end marker missing", u"{\"a\":\"x", u"\"a\":\"", kQuote, 1, u"", 0},
        {"start marker ends the text", u"{\"a\":\"", u"\"a\":\"", kQuote, 1, u"", 0},
        {"end marker right after the start", u"{\"a\":\"\"}", u"\"a\":\"", kQuote, 1, u"", 8},
        {"empty start marker: from the beginning, whatever the position", u"abc;d", u"", u";", 0, u"abc", 5},
        {"empty end marker: to the end", u"k=abc", u"k=", u"", 1, u"abc", 7},
        {"both markers empty: the whole text", u"abc", u"", u"", 1, u"abc", 5},
        {"empty text", u"", u"k=", u";", 1, u"", 0},
        {"escaped quote is masked", u"\"t\":\"say \\\"hi\\\"\",", u"\"t\":\"", kQuote, 1, u"say \\\"hi\\\"",
         17},
        {"escaped single quote with a single-quote end", u"'a\\'b'", u"'", u"'", 1, u"a\\'b", 7},
        {"other end markers are not masked", u"(a\\)b)", u"(", u")", 1, u"a\\", 5},
        {"an escaped backslash before the closing quote masks it too", u"{\"url\":\"C:\\\\\",\"x\":\"y\"}",
         u"\"url\":\"", kQuote, 1, u"C:\\\\\",", 16},
        {"result keeps its own case", u"<B>MiXeD</b>", u"<b>", u"</B>", 1, u"MiXeD", 10},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        int32_t position = c.positionIn;
        CHECK(FindBetween(c.text, c.start, c.end, position) == c.value);
        CHECK(position == c.positionOut);
    }
}

TEST_CASE(
    "FindBetween with the two-character quote pair as end marker keeps positions aligned with the text") {
    // Masking "\"'" with as many backslashes as it is long keeps the search copy as long as the text.
    int32_t position = 1;
    const std::u16string text = u"[x\\\"'y\"'z";
    CHECK(FindBetween(text, u"[", u"\"'", position) == u"x\\\"'y");
    CHECK(position == 8);
}

TEST_CASE("ExtractBetween reads the fields of an answer") {
    const std::u16string answer = u"{\"update\":\"a\\/b\",\"notify\":\"\",\"info\":{\"style\":\"hold\"}}";
    CHECK(ExtractBetween(answer, u"\"update\":\"", kQuote) == u"a\\/b");
    CHECK(JSONUnescape(ExtractBetween(answer, u"\"update\":\"", kQuote)) == u"a/b");
    CHECK(ExtractBetween(answer, u"\"notify\":\"", kQuote) == u"");
    CHECK(ExtractBetween(answer, u"\"info\":{", u"}") == u"\"style\":\"hold\"");

    SUBCASE("a blank between key, colon and value hides the field") {
        CHECK(ExtractBetween(u"{\"update\" : \"http://x\"}", u"\"update\":\"", kQuote) == u"");
    }
    SUBCASE("a key found inside another object") {
        CHECK(ExtractBetween(u"{\"info\":{\"update\":\"in\"},\"update\":\"out\"}", u"\"update\":\"",
                             kQuote) == u"in");
    }
    SUBCASE("a closing brace in a value ends the info object early") {
        const std::u16string data = u"{\"info\":{\"style\":\"note\",\"text\":\"a}b\"}}";
        const std::u16string info = ExtractBetween(data, u"\"info\":{", u"}");
        CHECK(ExtractBetween(info, u"\"style\":\"", kQuote) == u"note");
        CHECK(ExtractBetween(info, u"\"text\":\"", kQuote) == u"");
    }
}

TEST_CASE("ExtractBetween wraps only a non-blank result, with the markers as given") {
    CHECK(ExtractBetween(u"<b>x</b>", u"<B>", u"</B>", true) == u"<B>x</B>");
    CHECK(ExtractBetween(u"<b> \t\r\n</b>", u"<b>", u"</b>", true) == u" \t\r\n");
    CHECK(ExtractBetween(u"<b></b>", u"<b>", u"</b>", true) == u"");
    CHECK(ExtractBetween(u"<b>x</b>", u"<b>", u"</b>", false) == u"x");
}

TEST_CASE("JSONUnescape resolves escapes and never fails") {
    struct Case {
        const char* what;
        std::u16string in, out;
    };
    const Case cases[] = {
        {"no escapes", u"plain é", u"plain é"},
        {"simple escapes", u"\\\"\\'\\/\\\\\\b\\f\\n\\r\\t", u"\"'/\\\b\f\n\r\t"},
        {"unknown escape dropped with its backslash", u"a\\qb", u"ab"},
        {"trailing backslash dropped", u"ab\\", u"ab"},
        {"\\u in either case", u"\\u0041\\u00e9\\u00E9", u"Aéé"},
        {"surrogate pair stays a pair", u"\\uD83D\\uDE00", u"\U0001F600"},
        {"fewer than four digits at the end", u"x\\u41", u"xA"},
        {"\\u before non-hex is kept", u"\\uZZZZ!", u"\\uZZZZ!"},
        {"\\u with partly hex digits is kept", u"\\u12G4", u"\\u12G4"},
        {"\\u at the end is kept", u"ab\\u", u"ab\\u"},
        {"kept \\u does not swallow a following escape", u"\\u\\n", u"\\u\n"},
        {"escaped backslash then u is no \\u escape", u"\\\\u0041", u"\\u0041"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        CHECK(JSONUnescape(c.in) == c.out);
    }
}
