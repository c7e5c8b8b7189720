// A program that carries no "translate" resource: the load stores nothing, every text stays as written.
#include <doctest/doctest.h>
#include <windows.h>

#include "translate/translation.h"
#include "translate/translation_win32.h"

using namespace tarnell;

TEST_CASE("without the resource every lookup answers its source") {
    REQUIRE(FindResourceW(GetModuleHandleW(nullptr), L"translate", RT_RCDATA) == nullptr);
    LoadTranslationTable();
    CHECK(TranslationTable().empty());
    SetCurrentLanguage(u"en");
    CHECK(TranslateText(u"버전") == u"버전");
    CHECK(TranslateText(u"타르넬", u"en") == u"타르넬");
    CHECK(TranslateText(u"줄\\n바꿈") == u"줄\r바꿈");
    ReleaseTranslationTable();
}
