// The update prompt's and the notice line's own texts, in eight languages, apart from the translation table.
#pragma once

#include <string>

namespace tarnell {

enum class TUpdateTextKind { utMessage = 0, utAvailable = 1, utYes = 2, utNo = 3 };

// The text of `kind` for a two-letter language code: "ko", "ja", "zh", "de", "ru", "it" and "fr" have
// their own rows (exact comparison), every other code gets English. A kind outside the enum gives "".
std::u16string GetUpdateText(TUpdateTextKind kind, const std::u16string& language);

// The notice line's default action for a screen reader ("Open"), chosen by language as above.
std::u16string GetUpdateLinkAction(const std::u16string& language);

// The same for CurrentLanguage.
std::u16string GetUpdateText(TUpdateTextKind kind);

}  // namespace tarnell
