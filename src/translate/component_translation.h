// Translation of a whole window in one pass: its caption, the caption of everything it owns, and the
// items of popup menus, each through TranslateText.
#pragma once

#include <string>

#include "translate/translatable.h"

namespace tarnell {

// A non-empty language first becomes CurrentLanguage for the rest of the process (also when component
// is nullptr). Then, for the component and recursively for everything it owns in ownership order:
// a popup menu's items, then its own caption, then what it owns. A form's own caption is translated
// into English unless CurrentLanguage is "ko"; every other caption into CurrentLanguage.
void TranslateComponent(TranslatableComponent* component, const std::u16string& language);

// One menu item's caption into CurrentLanguage, then its sub-items in index order (parents first).
void TranslateMenuItem(TranslatableMenuItem* item);

}  // namespace tarnell
