// The table embedded as the RT_RCDATA resource "translate" of this test program, loaded as the
// program loads it at start-up.
#include <doctest/doctest.h>
#include <windows.h>

#include "table_file.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"

using namespace tarnell;

TEST_CASE("the embedded table loads with all its lines and answers lookups") {
    REQUIRE(FindResourceW(GetModuleHandleW(nullptr), L"translate", RT_RCDATA) != nullptr);
    LoadTranslationTable();
    const std::string file = ReadTableFile();
    REQUIRE(!file.empty());
    CHECK(TranslationTable() == ReadTranslationLines(file));
    CHECK(TranslationTable().size() == 127);

    SetCurrentLanguage(u"fr");
    CHECK(TranslateText(u"후원하기") == u"Donner");
    CHECK(TranslateText(u"후원하기", u"it") == u"Dona");
    CHECK(TranslateText(u"알수없음", u"ja") == u"不明");
    CHECK(TranslateText(u"네트워크 쓰로틀링", u"ru") == u"Индекс ограничения сети");

    // Loading again changes nothing; the release empties table and language.
    LoadTranslationTable();
    CHECK(TranslationTable().size() == 127);
    ReleaseTranslationTable();
    CHECK(TranslationTable().empty());
    CHECK(CurrentLanguage().empty());
    CHECK(TranslateText(u"후원하기", u"fr") == u"후원하기");
}
