#include "app/run_messages.h"

#include <array>

namespace tarnell {

namespace {

constexpr std::array<std::u16string_view, 7> kLanguages{u"ko", u"en", u"ja", u"zh", u"ru", u"it", u"fr"};

// clang-format off
constexpr std::array<std::array<std::u16string_view, 7>, 3> kTexts{{
    {u"다른 타르넬이 이 컴퓨터의 네트워크 설정을 변경하고 있습니다. 잠시 후 다시 시도하세요.",
     u"Another Tarnell is changing this computer's network settings. Try again in a moment.",
     u"別のタルネルがこのコンピューターのネットワーク設定を変更しています。しばらくしてからもう一度お試しください。",
     u"另一个塔内尔正在更改此计算机的网络设置。请稍后再试。",
     u"Другой Тарнелл изменяет сетевые настройки этого компьютера. Повторите попытку чуть позже.",
     u"Un altro Tarnell sta modificando le impostazioni di rete di questo computer. Riprova tra poco.",
     u"Un autre Tarnell modifie les paramètres réseau de cet ordinateur. Réessayez dans un instant."},
    {u"새 버전의 타르넬이 이 컴퓨터의 네트워크 설정을 변경했습니다. 이 버전은 아무것도 바꾸지 않습니다.",
     u"A newer version of Tarnell changed this computer's network settings; this version leaves them as they are.",
     u"新しいバージョンのタルネルがこのコンピューターのネットワーク設定を変更しました。このバージョンは何も変更しません。",
     u"较新版本的塔内尔已更改此计算机的网络设置；此版本不做任何更改。",
     u"Более новая версия Тарнелл изменила сетевые настройки этого компьютера; эта версия ничего не меняет.",
     u"Una versione più recente di Tarnell ha modificato le impostazioni di rete di questo computer; questa versione non cambia nulla.",
     u"Une version plus récente de Tarnell a modifié les paramètres réseau de cet ordinateur ; cette version n'y change rien."},
    {u"설정은 변경되었지만 네트워크 어댑터를 다시 시작하지 못했습니다. 다음에 다시 연결될 때 적용됩니다.",
     u"The settings were changed, but the network adapter could not be restarted; they take effect at its next reconnect.",
     u"設定は変更されましたが、ネットワークアダプターを再起動できませんでした。次回の再接続時に有効になります。",
     u"设置已更改，但无法重新启动网络适配器；将在下次重新连接时生效。",
     u"Настройки изменены, но сетевой адаптер не удалось перезапустить; они вступят в силу при следующем подключении.",
     u"Le impostazioni sono state modificate, ma non è stato possibile riavviare la scheda di rete; avranno effetto alla prossima riconnessione.",
     u"Les paramètres ont été modifiés, mais la carte réseau n'a pas pu être redémarrée ; ils prendront effet à la prochaine reconnexion."},
}};
// clang-format on

}  // namespace

std::u16string RunMessageIn(RunMessage message, std::u16string_view language) {
    size_t column = 1;  // English
    for (size_t i = 0; i < kLanguages.size(); ++i) {
        if (kLanguages[i] == language) column = i;
    }
    return std::u16string(kTexts[size_t(message)][column]);
}

}  // namespace tarnell
