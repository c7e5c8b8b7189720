// The process-wide table: empty before the load, loaded once, released once, never loaded again.
// Everything here is process state, so it is one test case that runs the life cycle in order.
#include <doctest/doctest.h>

#include <optional>
#include <string>
#include <vector>

#include "translate/translation.h"

using namespace tarnell;

TEST_CASE("table life cycle: lookups before the load, one load, one release") {
    CHECK(TranslationTable().empty());
    CHECK(CurrentLanguage().empty());
    CHECK(TranslateText(u"버전", u"en") == u"버전");
    CHECK(TranslateText(u"a\\nb") == u"a\rb");

    int reads = 0;
    LoadTranslationTableOnce([&]() -> std::optional<std::string> {
        ++reads;
        return std::string(
            "\xEF\xBB\xBFko=버전\r\nen=Version\r\nja=バージョン\r\n\r\nko=후원하기\r\nen=Donate\r\n");
    });
    CHECK(reads == 1);
    CHECK(TranslationTable().size() == 6);

    // CurrentLanguage decides when no language is given; an explicit language wins.
    CHECK(TranslateText(u"버전") == u"Version");  // CurrentLanguage still empty: English
    SetCurrentLanguage(u"ja");
    CHECK(CurrentLanguage() == u"ja");
    CHECK(TranslateText(u"버전") == u"バージョン");
    CHECK(TranslateText(u"Version", u"ko") == u"버전");
    CHECK(TranslateText(u"후원하기") == u"Donate");
    CHECK(TranslateText(u"") == u"");

    // A second load does not read again and does not touch the table.
    LoadTranslationTableOnce([&]() -> std::optional<std::string> {
        ++reads;
        return std::string("ko=버전\r\nja=other\r\n");
    });
    CHECK(reads == 1);
    CHECK(TranslationTable().size() == 6);
    CHECK(TranslateText(u"버전") == u"バージョン");

    // What a reader on another thread holds (a worker abandoned at exit, reading while the process ends)
    // stays as it was, whatever is set or released after it took it.
    const std::u16string& heldLanguage = CurrentLanguage();
    const std::vector<std::u16string>& heldTable = TranslationTable();
    SetCurrentLanguage(u"a language code long enough to live outside the string itself");
    SetCurrentLanguage(u"fr");
    CHECK(CurrentLanguage() == u"fr");
    CHECK(TranslateText(u"버전") == u"Version");  // no French line: English
    CHECK(heldLanguage == u"ja");
    SetCurrentLanguage(u"ja");

    ReleaseTranslationTableOnce();
    CHECK(TranslationTable().empty());
    CHECK(CurrentLanguage().empty());
    CHECK(TranslateText(u"버전", u"ja") == u"버전");
    CHECK(heldLanguage == u"ja");
    REQUIRE(heldTable.size() == 6);
    CHECK(heldTable[0] == u"ko=버전");
    CHECK(heldTable[5] == u"en=Donate");
    CHECK(LookupTranslation(heldTable, u"버전", heldLanguage) == u"バージョン");

    // Released is final: neither a second release nor a later load changes anything.
    ReleaseTranslationTableOnce();
    LoadTranslationTableOnce([&]() -> std::optional<std::string> {
        ++reads;
        return std::string("ko=버전\r\nja=バージョン\r\n");
    });
    CHECK(reads == 1);
    CHECK(TranslationTable().empty());
    CHECK(TranslateText(u"버전", u"ja") == u"버전");
}
