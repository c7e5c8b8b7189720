#include "update/update_texts.h"

#include <doctest/doctest.h>

#include "translate/translation.h"

using namespace tarnell;

TEST_CASE("GetUpdateText picks the row by exact language code, English for every other") {
    struct Case {
        std::u16string language, available, yes, no;
    };
    const Case cases[] = {
        {u"ko", u"업데이트 가능", u"예", u"아니오"},
        {u"ja", u"アップデート可", u"はい", u"いいえ"},
        {u"zh", u"可更新", u"是", u"否"},
        {u"de", u"Update möglich", u"Ja", u"Nein"},
        {u"ru", u"Обновление", u"Да", u"Нет"},
        {u"it", u"Aggiornabile", u"Sì", u"No"},
        {u"fr", u"Maj dispo", u"Oui", u"Non"},
        {u"en", u"Update available", u"Yes", u"No"},
        {u"", u"Update available", u"Yes", u"No"},
        {u"pt", u"Update available", u"Yes", u"No"},
        {u"KO", u"Update available", u"Yes", u"No"},  // codes compare exactly
        {u"kor", u"Update available", u"Yes", u"No"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.language.begin(), c.language.end()));
        CHECK(GetUpdateText(TUpdateTextKind::utAvailable, c.language) == c.available);
        CHECK(GetUpdateText(TUpdateTextKind::utYes, c.language) == c.yes);
        CHECK(GetUpdateText(TUpdateTextKind::utNo, c.language) == c.no);
    }
}

TEST_CASE("Every prompt body has three paragraphs separated by two carriage returns") {
    for (const char16_t* language : {u"ko", u"ja", u"zh", u"de", u"ru", u"it", u"fr", u"en"}) {
        const std::u16string body = GetUpdateText(TUpdateTextKind::utMessage, language);
        size_t breaks = 0;
        for (size_t at = body.find(u"\r\r"); at != std::u16string::npos; at = body.find(u"\r\r", at + 2))
            ++breaks;
        CHECK(breaks == 2);
        CHECK(body.find(u'\n') == std::u16string::npos);
    }
    CHECK(
        GetUpdateText(TUpdateTextKind::utMessage, u"en") ==
        u"This program has been updated.\r\rIt is recommended to download and execute new for stable use.\r\r"
        u"Do you want to download it?");
    CHECK(GetUpdateText(TUpdateTextKind::utMessage, u"de").rfind(u"Möchten Sie es herunterladen?") !=
          std::u16string::npos);
}

TEST_CASE("GetUpdateText follows CurrentLanguage and gives nothing for an unknown kind") {
    const std::u16string saved = CurrentLanguage();
    SetCurrentLanguage(u"fr");
    CHECK(GetUpdateText(TUpdateTextKind::utYes) == u"Oui");
    SetCurrentLanguage(u"pt");
    CHECK(GetUpdateText(TUpdateTextKind::utAvailable) == u"Update available");
    CHECK(GetUpdateText(static_cast<TUpdateTextKind>(4)).empty());
    CHECK(GetUpdateText(static_cast<TUpdateTextKind>(-1), u"ko").empty());
    SetCurrentLanguage(saved);
}
