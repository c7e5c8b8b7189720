// The UI language of this process, from the user's default locale.
#pragma once

#include <string>

namespace tarnell {

// ISO 639 language name of the user's default locale ("ko", "en", "fil"...), "en" when it cannot be read.
std::u16string GetUILanguage();

// Start-up step, right after the translation table is loaded: CurrentLanguage := the first two
// characters of GetUILanguage().
void InitUILanguage();

}  // namespace tarnell
