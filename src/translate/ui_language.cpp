#include "translate/ui_language.h"

#include <algorithm>
#include <vector>

namespace tarnell {

std::u16string ReadLocaleLanguageName(const LocaleNameQuery& query) {
    const int needed = query(nullptr, 0);
    if (needed <= 0) return u"en";
    std::vector<char16_t> buffer(static_cast<size_t>(needed), u'\0');
    const int written = query(buffer.data(), needed);
    if (written <= 0) return u"en";
    // Up to the first NUL, and never past the characters the query says it wrote.
    const size_t limit = std::min(buffer.size(), static_cast<size_t>(written));
    size_t length = 0;
    while (length < limit && buffer[length] != u'\0') ++length;
    return std::u16string(buffer.data(), length);
}

std::u16string ChooseUILanguage(const std::u16string& languageName) {
    return languageName.substr(0, 2);
}

}  // namespace tarnell
