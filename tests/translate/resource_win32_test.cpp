// The table embedded as the RT_RCDATA resource "translate" of this test program, loaded as the
// program loads it at start-up.
#include <doctest/doctest.h>
#include <windows.h>

#include <string_view>
#include <vector>

#include "table_expected.h"
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

TEST_CASE(
    "the embedded table holds the 112 texts, entry by entry in the language order, and gives each back") {
    // The resource's bytes as the program's module holds them (the process-wide table loads only once).
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), L"translate", RT_RCDATA);
    REQUIRE(found);
    const auto* bytes =
        static_cast<const char*>(LockResource(LoadResource(GetModuleHandleW(nullptr), found)));
    REQUIRE(bytes);
    const std::vector<std::u16string> table =
        ReadTranslationLines(std::string_view(bytes, SizeofResource(GetModuleHandleW(nullptr), found)));
    REQUIRE(table.size() == 127);
    for (size_t entry = 0; entry < expected::kTexts.size(); ++entry) {
        CAPTURE(entry + 1);
        // Seven lines per entry, one empty line between entries.
        const size_t first = entry * 8;
        if (entry > 0) CHECK(table[first - 1].empty());
        for (size_t language = 0; language < expected::kLanguages.size(); ++language) {
            CAPTURE(language);
            const std::u16string code = expected::kLanguages[language],
                                 text = expected::kTexts[entry][language];
            CHECK((table[first + language] == code + u"=" + text));
            // The Korean source (the key every caller passes) gives this text in this language, and so does
            // the text of any other language of the entry.
            CHECK((LookupTranslation(table, expected::kTexts[entry][0], code) == text));
            CHECK((LookupTranslation(table, expected::kTexts[entry][(language + 3) % 7], code) == text));
        }
    }
}
