#include "update/update_texts.h"

#include <array>
#include <utility>

#include "translate/translation.h"

namespace tarnell {

namespace {

struct UpdateTexts {
    const char16_t* language;  // nullptr: the row for every other language
    const char16_t* message;
    const char16_t* available;
    const char16_t* yes;
    const char16_t* no;
};

// Searched in this order; the last row takes every language the others do not name.
const std::array<UpdateTexts, 8> kRows{{
    {u"ko",
     u"업데이트 정보가 있습니다.\r\r안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.\r\r다운로드 "
     u"받으시겠습니까?",
     u"업데이트 가능", u"예", u"아니오"},
    {u"ja",
     u"このプログラムがアップデートされました。\r\r安定的に使用するために新しくダウンロード·実行することをお"
     u"勧めします。\r\rダウンロードしますか。",
     u"アップデート可", u"はい", u"いいえ"},
    {u"zh", u"该程序已更新。\r\r建议下载并执行新程序以稳定使用。\r\r您要下载吗？", u"可更新", u"是", u"否"},
    {u"de",
     u"Dieses Programm ist aktualisiert worden.\r\rEs wird empfohlen, es herunterzuladen und neu "
     u"auszuführen, um es "
     u"stabil zu verwenden.\r\rMöchten Sie es herunterladen?",
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
     u"Ce programme a été mis à jour.\r\rIl est recommandé de télécharger et d'exécuter la nouvelle version "
     u"pour "
     u"une utilisation stable.\r\rVoulez-vous le télécharger?",
     u"Maj dispo", u"Oui", u"Non"},
    {nullptr,
     u"This program has been updated.\r\rIt is recommended to download and execute new for stable use.\r\rDo "
     u"you "
     u"want to download it?",
     u"Update available", u"Yes", u"No"},
}};

// What a screen reader offers to do with the notice line (its default action), in the same languages.
const std::array<std::pair<const char16_t*, const char16_t*>, 8> kLinkActions{{
    {u"ko", u"열기"},
    {u"ja", u"開く"},
    {u"zh", u"打开"},
    {u"de", u"Öffnen"},
    {u"ru", u"Открыть"},
    {u"it", u"Apri"},
    {u"fr", u"Ouvrir"},
    {nullptr, u"Open"},
}};

}  // namespace

std::u16string GetUpdateLinkAction(const std::u16string& language) {
    for (const auto& [code, action] : kLinkActions) {
        if (!code || language == code) return action;
    }
    return kLinkActions.back().second;
}

std::u16string GetUpdateText(TUpdateTextKind kind, const std::u16string& language) {
    const UpdateTexts* row = &kRows.back();
    for (const auto& candidate : kRows) {
        if (candidate.language && language == candidate.language) {
            row = &candidate;
            break;
        }
    }
    switch (kind) {
        case TUpdateTextKind::utMessage:
            return row->message;
        case TUpdateTextKind::utAvailable:
            return row->available;
        case TUpdateTextKind::utYes:
            return row->yes;
        case TUpdateTextKind::utNo:
            return row->no;
    }
    return std::u16string();
}

std::u16string GetUpdateText(TUpdateTextKind kind) {
    return GetUpdateText(kind, CurrentLanguage());
}

}  // namespace tarnell
