#include "app/access_texts.h"

#include <array>

namespace tarnell {

namespace {

constexpr std::array<std::u16string_view, 7> kLanguages{u"ko", u"en", u"ja", u"zh", u"ru", u"it", u"fr"};

// clang-format off
constexpr std::array<std::array<std::u16string_view, 7>, 10> kTexts{{
    {u"네트워크 최적화를 적용합니다", u"Applies the network tweaks", u"ネットワークの最適化を適用します",
     u"应用网络优化", u"Применяет сетевые настройки", u"Applica le ottimizzazioni di rete",
     u"Applique les optimisations réseau"},
    {u"중지하고 네트워크 최적화를 되돌립니다", u"Stops and reverts the network tweaks",
     u"停止してネットワークの最適化を元に戻します", u"停止并撤销网络优化",
     u"Останавливает и отменяет сетевые настройки", u"Ferma e annulla le ottimizzazioni di rete",
     u"Arrête et annule les optimisations réseau"},
    {u"네트워크 설정을 변경하는 중입니다. 잠시 기다려 주세요", u"Changing the network settings, please wait",
     u"ネットワーク設定を変更しています。お待ちください", u"正在更改网络设置，请稍候",
     u"Изменение сетевых настроек, подождите", u"Modifica delle impostazioni di rete, attendere",
     u"Modification des paramètres réseau, veuillez patienter"},
    // The logo shows the name in Latin letters in every language: its name holds it as shown.
    {u"Tarnell 홈페이지", u"Tarnell website", u"Tarnell のウェブサイト", u"Tarnell 网站", u"Сайт Tarnell",
     u"Sito web di Tarnell", u"Site web de Tarnell"},
    {u"다음 실행 때 레지스트리에 적용됩니다", u"Applied to the registry at the next run",
     u"次回の実行時にレジストリに適用されます", u"下次运行时写入注册表",
     u"Применяется к реестру при следующем запуске", u"Applicato al registro alla prossima esecuzione",
     u"Appliqué au registre à la prochaine exécution"},
    {u"누르기", u"Press", u"押す", u"按下", u"Нажать", u"Premi", u"Appuyer"},
    {u"전환", u"Switch", u"切り替え", u"切换", u"Переключить", u"Passa", u"Basculer"},
    {u"열기", u"Open", u"開く", u"打开", u"Открыть", u"Apri", u"Ouvrir"},
    {u"선택", u"Check", u"チェック", u"选中", u"Отметить", u"Seleziona", u"Cocher"},
    {u"선택 해제", u"Uncheck", u"チェックを外す", u"取消选中", u"Снять отметку", u"Deseleziona", u"Décocher"},
}};
// clang-format on

}  // namespace

std::u16string AccessTextIn(AccessText text, std::u16string_view language) {
    size_t column = 1;  // English
    for (size_t i = 0; i < kLanguages.size(); ++i) {
        if (kLanguages[i] == language) column = i;
    }
    return std::u16string(kTexts[size_t(text)][column]);
}

std::u16string JoinSentences(std::u16string_view first, std::u16string_view second,
                             std::u16string_view language) {
    const bool cjk = language == u"ja" || language == u"zh";
    std::u16string joined(first);
    joined += cjk ? u"。" : u". ";
    joined += second;
    return joined;
}

}  // namespace tarnell
