#include "update/update_texts.h"

#include <doctest/doctest.h>

#include "translate/translation.h"

using namespace tarnell;

TEST_CASE(
    "GetUpdateText gives the prompt's and the notice's texts of each language, English for every other") {
    // Each \r is one carriage return: three paragraphs separated by two.
    struct Case {
        std::u16string language, message, available, yes, no;
    };
    const std::u16string english =
        u"This program has been updated.\r\rIt is recommended to download and execute new for stable use.\r\r"
        u"Do you want to download it?";
    const Case cases[] = {
        {u"ko",
         u"업데이트 정보가 있습니다.\r\r안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.\r\r"
         u"다운로드 받으시겠습니까?",
         u"업데이트 가능", u"예", u"아니오"},
        {u"ja",
         u"このプログラムがアップデートされました。\r\r安定的に使用するために新しくダウンロード·実行すること"
         u"を"
         u"お勧めします。\r\rダウンロードしますか。",
         u"アップデート可", u"はい", u"いいえ"},
        {u"zh", u"该程序已更新。\r\r建议下载并执行新程序以稳定使用。\r\r您要下载吗？", u"可更新", u"是",
         u"否"},
        {u"de",
         u"Dieses Programm ist aktualisiert worden.\r\rEs wird empfohlen, es herunterzuladen und neu "
         u"auszuführen, um es stabil zu verwenden.\r\rMöchten Sie es herunterladen?",
         u"Update möglich", u"Ja", u"Nein"},
        {u"ru",
         u"Данная программа была обновлена.\r\rРекомендуется скачать и выполнить новое для стабильного "
         u"использования.\r\rВы хотите загрузить ее?",
         u"Обновление", u"Да", u"Нет"},
        {u"it",
         u"È disponibile una nuova versione del programma.\r\rTi suggeriamo di scaricare ed aggiornare il "
         u"programma.\r\rVuoi scaricare la nuova versione del programma?",
         u"Aggiornabile", u"Sì", u"No"},
        {u"fr",
         u"Ce programme a été mis à jour.\r\rIl est recommandé de télécharger et d'exécuter la nouvelle "
         u"version pour une utilisation stable.\r\rVoulez-vous le télécharger?",
         u"Maj dispo", u"Oui", u"Non"},
        {u"en", english, u"Update available", u"Yes", u"No"},
        {u"", english, u"Update available", u"Yes", u"No"},
        {u"pt", english, u"Update available", u"Yes", u"No"},
        {u"KO", english, u"Update available", u"Yes", u"No"},  // codes compare exactly
        {u"kor", english, u"Update available", u"Yes", u"No"},
    };
    for (const auto& c : cases) {
        CAPTURE(std::string(c.language.begin(), c.language.end()));
        CHECK(GetUpdateText(TUpdateTextKind::utMessage, c.language) == c.message);
        CHECK(GetUpdateText(TUpdateTextKind::utAvailable, c.language) == c.available);
        CHECK(GetUpdateText(TUpdateTextKind::utYes, c.language) == c.yes);
        CHECK(GetUpdateText(TUpdateTextKind::utNo, c.language) == c.no);
    }
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
