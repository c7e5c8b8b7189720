// The translation table's 16 entries in its seven languages, typed here by hand from the table the program
// must carry (not read from resources/translate.txt), for the tests that compare it with the embedded
// table and with what the window shows.
#pragma once

#include <array>

namespace tarnell::expected {

inline constexpr std::array<const char16_t*, 7> kLanguages = {u"ko", u"en", u"ja", u"zh",
                                                              u"ru", u"it", u"fr"};

// kTexts[entry - 1][language], languages in the order of kLanguages.
inline constexpr std::array<std::array<const char16_t*, 7>, 16> kTexts{{
    {u"타르넬", u"Tarnell", u"タルネル", u"塔内尔", u"Тарнелл", u"Tarnell", u"Tarnell"},
    {u"버전", u"Version", u"バージョン", u"版本", u"Версия", u"Versione", u"Version"},
    {u"처음화면", u"Home", u"ホーム", u"主页", u"Главная", u"Home", u"Accueil"},
    {u"환경설정", u"Config", u"設定", u"设置", u"Настройки", u"Configura", u"Config"},
    {u"후원하기", u"Donate", u"寄付", u"捐赠", u"Донат", u"Dona", u"Donner"},
    {u"실행하기", u"Run", u"実行する", u"运行", u"Запустить", u"Avvia", u"Exécuter"},
    {u"실행중", u"Running", u"実行中", u"运行中", u"Выполняется", u"In esecuzione", u"En cours"},
    {u"중지하기", u"Stop", u"停止する", u"停止", u"Остановить", u"Ferma", u"Arrêter"},
    {u"<B>게임 반응 속도</B>를 손쉽게 향상 시킵니다.", u"Easily improve <B>game responsiveness</B>.",
     u"<B>ゲーム応答速度</B>を簡単に改善します。", u"轻松提高<B>游戏响应速度</B>。",
     u"Легко улучшите <B>отзывчивость игры</B>.", u"Migliora facilmente la <B>reattività del gioco</B>.",
     u"Améliorez facilement la <B>réactivité du jeu</B>."},
    {u"최적화된 네트워크로 <B>지연 시간을 최소화</B>합니다.",
     u"Minimize <B>latency</B> with an optimized network.",
     u"最適化されたネットワークで<B>遅延を最小化</B>します。", u"通过优化的网络轻松<B>减少延迟</B>。",
     u"Минимизируйте <B>задержки</B> с помощью оптимизированной сети.",
     u"Con una rete ottimizzata minimizza la <B>latenza</B>.",
     u"Minimisez la <B>latence</B> avec un réseau optimisé."},
    {u"간편한 설정으로 <B>게임 속도와 안정성</B>을 동시에 개선합니다.",
     u"Improve <B>game speed and stability</B> with simple settings.",
     u"簡単な設定で<B>ゲーム速度と安定性</B>を同時に改善します。",
     u"通过简单设置同时提高<B>游戏速度和稳定性</B>。",
     u"Улучшите <B>скорость и стабильность игры</B> с помощью простых настроек.",
     u"Con impostazioni semplici migliora la <B>velocità e la stabilità del gioco</B>.",
     u"Améliorez la <B>vitesse et la stabilité du jeu</B> avec des réglages simples."},
    {u"알수없음", u"Unknown", u"不明", u"未知", u"Неизвестно", u"Sconosciuto", u"Inconnu"},
    {u"활성중인 네트워크가 없습니다.", u"There are no active networks.",
     u"アクティブなネットワークがありません。", u"没有活动的网络。", u"Нет активных сетей.",
     u"Non ci sono reti attive.", u"Il n'y a pas de réseaux actifs."},
    {u"네트워크 아답터 정보", u"Network Adapter", u"ネットワークアダプタ", u"网络适配器", u"Сетевой адаптер",
     u"Scheda di rete", u"Adaptateur réseau"},
    {u"네이글 알고리즘 해제", u"Disable Nagle's algorithm", u"ネイグルアルゴリズムを無効にする",
     u"禁用Nagle算法", u"Отключить алгоритм Нейгла", u"Disabilita l'algoritmo di Nagle",
     u"Désactiver l'algorithme de Nagle"},
    {u"네트워크 쓰로틀링", u"Network Throttling Index", u"ネットワークスロットリング指数", u"网络限制指数",
     u"Индекс ограничения сети", u"Indice limitazione rete", u"Indice de limitation réseau"},
}};

}  // namespace tarnell::expected
