#include "translate/ui_language_win32.h"

#include <windows.h>

#include "translate/translation.h"
#include "translate/ui_language.h"

namespace tarnell {

namespace {
// LOCALE_SISO639LANGNAME.
constexpr LCTYPE kIso639LanguageName = 89;
}  // namespace

std::u16string GetUILanguage() {
    const LCID locale = GetUserDefaultLCID();
    return ReadLocaleLanguageName([locale](char16_t* buffer, int size) {
        return GetLocaleInfoW(locale, kIso639LanguageName, reinterpret_cast<wchar_t*>(buffer), size);
    });
}

void InitUILanguage() {
    SetCurrentLanguage(ChooseUILanguage(GetUILanguage()));
}

}  // namespace tarnell
