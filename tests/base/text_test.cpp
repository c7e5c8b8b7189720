#include "base/text.h"

#include <doctest/doctest.h>

using namespace tarnell;

TEST_CASE("Utf8ToUtf16 decodes valid text and replaces every malformed sequence") {
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"", u""},
        {"Tarnell", u"Tarnell"},
        {"\xED\x83\x80\xEB\xA5\xB4\xEB\x84\xAC", u"타르넬"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // outside the BMP: a surrogate pair
        {"a\x80z", u"a\uFFFDz"},              // lone continuation byte
        {"a\xE3\x81", u"a\uFFFD"},            // truncated at the end
        {"\xE3\x81"
         "b",
         u"\uFFFD"
         "b"},                            // truncated before an ASCII byte
        {"\xC0\xAF", u"\uFFFD"},          // overlong form
        {"\xED\xA0\x80", u"\uFFFD"},      // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // above U+10FFFF
        {"\xFF\xFE", u"\uFFFD\uFFFD"},    // bytes that never start a sequence
    };
    for (const auto& c : cases) {
        CAPTURE(c.in);
        CHECK(Utf8ToUtf16(c.in) == c.out);
    }
}

TEST_CASE("Utf16ToUtf8 round-trips and replaces unpaired surrogates") {
    const std::u16string samples[] = {u"", u"Tarnell", u"타르넬 ゲーム 游戏", u"\U0001F600"};
    for (const auto& s : samples) CHECK(Utf8ToUtf16(Utf16ToUtf8(s)) == s);
    CHECK(Utf16ToUtf8(u"\xD800x") == "\xEF\xBF\xBDx");
    CHECK(Utf16ToUtf8(u"x\xDC00") == "x\xEF\xBF\xBD");
}

TEST_CASE("ASCII case folding leaves every non-ASCII letter alone") {
    CHECK(AsciiUpperCase(u"unknown é Версия") == u"UNKNOWN é Версия");
    CHECK(AsciiLowerCase(u"UNKNOWN É ВЕРСИЯ") == u"unknown É ВЕРСИЯ");
    CHECK(EqualsAsciiNoCase(u"UnKnOwN", u"unknown"));
    CHECK_FALSE(EqualsAsciiNoCase(u"ВЕРСИЯ", u"Версия"));
    CHECK_FALSE(EqualsAsciiNoCase(u"Unknown ", u"Unknown"));
    CHECK_FALSE(EqualsAsciiNoCase(u"[", u"{"));  // 0x5B and 0x7B differ by 32 but are not letters
}
