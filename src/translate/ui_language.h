// The UI language from the user's locale: the locale's ISO 639 language name, cut to two letters.
#pragma once

#include <functional>
#include <string>

namespace tarnell {

// The locale's language-name query in the shape of GetLocaleInfoW: with (nullptr, 0) it answers the
// number of characters needed, terminating NUL included; with a buffer of `size` characters it fills it
// and answers the number written; 0 or less means failure.
using LocaleNameQuery = std::function<int(char16_t* buffer, int size)>;

// The language name up to its first NUL, or "en" when either query fails.
std::u16string ReadLocaleLanguageName(const LocaleNameQuery& query);

// The start-up choice: the first two characters of the language name (all of it when shorter).
// Not checked against the table: a language it lacks makes every lookup fall back to English.
std::u16string ChooseUILanguage(const std::u16string& languageName);

}  // namespace tarnell
