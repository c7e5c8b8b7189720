// The UI language follows the user's locale (under Wine: the LANG of the process). Registered once per
// locale: TARNELL_EXPECT_NAME is the locale's ISO 639 name, TARNELL_EXPECT_LANG the chosen UI language.
#include <doctest/doctest.h>
#include <windows.h>

#include <string>

#include "base/text.h"
#include "base/wide.h"
#include "fake_components.h"
#include "translate/component_translation.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "translate/ui_language_win32.h"

using namespace tarnell;
using namespace tarnell::testing;

namespace {

std::string Env(const wchar_t* name) {
    wchar_t buffer[64] = {};
    const DWORD n = GetEnvironmentVariableW(name, buffer, 64);
    return n > 0 && n < 64 ? Utf16ToUtf8(FromWide(buffer)) : std::string();
}

}  // namespace

TEST_CASE("start-up language from the locale, and the window translated in it") {
    const std::string expectName = Env(L"TARNELL_EXPECT_NAME");
    const std::string expectLanguage = Env(L"TARNELL_EXPECT_LANG");
    REQUIRE_MESSAGE(!expectLanguage.empty(), "run with TARNELL_EXPECT_LANG set");

    LoadTranslationTable();
    InitUILanguage();
    CHECK(Utf16ToUtf8(GetUILanguage()) == expectName);
    CHECK(Utf16ToUtf8(CurrentLanguage()) == expectLanguage);

    FakeWindow w;
    TranslateComponent(&w.form, u"");
    struct Expected {
        const char* language;
        const char* form;
        const char* start;
        const char* group;
    };
    const Expected expected[] = {
        {"ko", "타르넬", "실행하기", "네트워크 아답터 정보"},
        {"ja", "Tarnell", "実行する", "ネットワークアダプタ"},
        {"en", "Tarnell", "Run", "Network Adapter"},
        {"de", "Tarnell", "Run", "Network Adapter"},
        {"fi", "Tarnell", "Run", "Network Adapter"},
    };
    bool known = false;
    for (const Expected& e : expected) {
        if (expectLanguage != e.language) continue;
        known = true;
        CHECK(Utf16ToUtf8(w.form.Stored()) == e.form);
        CHECK(Utf16ToUtf8(w.start->Stored()) == e.start);
        CHECK(Utf16ToUtf8(w.group->Stored()) == e.group);
    }
    CHECK_MESSAGE(known, "no expected captions for this language");
    ReleaseTranslationTable();
}
