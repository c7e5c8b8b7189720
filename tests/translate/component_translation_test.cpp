// The caption walk over a fake component tree, on the real table.
#include "translate/component_translation.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "fake_components.h"
#include "table_file.h"
#include "translate/translation.h"

using namespace tarnell;
using namespace tarnell::testing;

namespace {

void LoadRealTable() {
    LoadTranslationTableOnce([] { return std::optional<std::string>(ReadTableFile()); });
    REQUIRE(TranslationTable().size() == 127);
}

std::string U8(const std::u16string& s) {
    return Utf16ToUtf8(s);
}

}  // namespace

TEST_CASE("the start-up pass: form rule and controls for each language") {
    LoadRealTable();
    struct Case {
        const char* language;
        const char* form;
        const char* title;
        const char* start;
        const char* underMarkup;
        const char* group;
    };
    const Case cases[] = {
        {"ko", "타르넬", "타르넬", "실행하기", "처음화면", "네트워크 아답터 정보"},
        {"ja", "Tarnell", "タルネル", "実行する", "ホーム", "ネットワークアダプタ"},
        {"ru", "Tarnell", "Тарнелл", "Запустить", "Главная", "Сетевой адаптер"},
        {"de", "Tarnell", "Tarnell", "Run", "Home", "Network Adapter"},
        {"fi", "Tarnell", "Tarnell", "Run", "Home", "Network Adapter"},
        {"", "Tarnell", "Tarnell", "Run", "Home", "Network Adapter"},
    };
    for (const Case& c : cases) {
        const std::string language = c.language;
        CAPTURE(language);
        SetCurrentLanguage(Utf8ToUtf16(c.language));
        FakeWindow w;
        TranslateComponent(&w.form, u"");
        CHECK(U8(CurrentLanguage()) == c.language);  // an empty language argument leaves it alone
        CHECK(U8(w.form.Stored()) == c.form);
        CHECK(U8(w.title->Stored()) == c.title);
        CHECK(U8(w.start->Stored()) == c.start);
        CHECK(U8(w.underMarkup->Stored()) == c.underMarkup);
        CHECK(U8(w.group->Stored()) == c.group);
        // No entry: written back unchanged. No caption: never read or written.
        CHECK(w.option->Stored() == u"tcpnodelay");
        CHECK(w.empty->Stored().empty());
        CHECK(w.markup->Stored() == u"버전");
        CHECK(w.markup->captionReads == 0);
        // Every captioned component is written exactly once, in ownership order, depth first.
        const std::vector<std::u16string> written = {
            u"타르넬 -> " + w.form.Stored(),
            u"타르넬 -> " + w.title->Stored(),
            u"실행하기 -> " + w.start->Stored(),
            u"처음화면 -> " + w.underMarkup->Stored(),
            u"네트워크 아답터 정보 -> " + w.group->Stored(),
            u"tcpnodelay -> tcpnodelay",
            u" -> ",
        };
        CHECK(w.log == written);
    }
}

TEST_CASE("a given language persists and switches captions from any language of the table") {
    LoadRealTable();
    SetCurrentLanguage(u"ko");
    FakeWindow w;
    TranslateComponent(&w.form, u"");

    TranslateComponent(&w.form, u"ja");
    CHECK(CurrentLanguage() == u"ja");
    CHECK(w.form.Stored() == u"Tarnell");
    CHECK(w.start->Stored() == u"実行する");
    CHECK(w.group->Stored() == u"ネットワークアダプタ");
    CHECK(TranslateText(u"버전") == u"バージョン");  // later lookups follow it too

    // The same pass again changes nothing.
    const std::u16string start = w.start->Stored(), group = w.group->Stored(), form = w.form.Stored();
    TranslateComponent(&w.form, u"ja");
    CHECK(w.start->Stored() == start);
    CHECK(w.group->Stored() == group);
    CHECK(w.form.Stored() == form);

    // Back to Korean: the window's own caption too.
    TranslateComponent(&w.form, u"ko");
    CHECK(w.form.Stored() == u"타르넬");
    CHECK(w.title->Stored() == u"타르넬");
    CHECK(w.start->Stored() == u"실행하기");
    CHECK(w.underMarkup->Stored() == u"처음화면");

    // A component that is not a form follows CurrentLanguage even for entry 1.
    TranslateComponent(w.title, u"it");
    CHECK(w.title->Stored() == u"Tarnell");
    TranslateComponent(w.title, u"zh");
    CHECK(w.title->Stored() == u"塔内尔");
}

TEST_CASE("no component: nothing is translated, the language is still stored") {
    LoadRealTable();
    SetCurrentLanguage(u"ko");
    TranslateComponent(nullptr, u"ru");
    CHECK(CurrentLanguage() == u"ru");
    TranslateComponent(nullptr, u"");
    CHECK(CurrentLanguage() == u"ru");
    TranslateMenuItem(nullptr);
}

TEST_CASE("popup menus: every item at every depth, parents before children") {
    LoadRealTable();
    SetCurrentLanguage(u"fr");
    std::vector<std::u16string> log;
    FakeComponent form(FakeComponent::kForm, u"타르넬", &log);
    FakeComponent* menu = form.Own(FakeComponent::kPopupMenu, u"");
    FakeMenuItem* home = menu->Root()->Add(u"처음화면");
    FakeMenuItem* config = home->Add(u"환경설정");
    FakeMenuItem* donate = config->Add(u"후원하기");
    FakeMenuItem* stop = menu->Root()->Add(u"중지하기");
    FakeComponent* afterMenu = menu->Own(FakeComponent::kControl, u"실행중");

    TranslateComponent(&form, u"");
    CHECK(home->Caption() == u"Accueil");
    CHECK(config->Caption() == u"Config");
    CHECK(donate->Caption() == u"Donner");
    CHECK(stop->Caption() == u"Arrêter");
    CHECK(afterMenu->Stored() == u"En cours");
    CHECK(form.Stored() == u"Tarnell");
    const std::vector<std::u16string> expected = {
        u"타르넬 -> Tarnell",  // the form's caption, then what it owns
        u" -> ",               // the menu's root item
        u"처음화면 -> Accueil",
        u"환경설정 -> Config",
        u"후원하기 -> Donner",
        u"중지하기 -> Arrêter",
        u"실행중 -> En cours",
    };
    CHECK(log == expected);

    // TranslateMenuItem alone works on any subtree, into CurrentLanguage.
    SetCurrentLanguage(u"ja");
    log.clear();
    TranslateMenuItem(config);
    CHECK(config->Caption() == u"設定");
    CHECK(donate->Caption() == u"寄付");
    CHECK(home->Caption() == u"Accueil");
    CHECK(log.size() == 2);
}
