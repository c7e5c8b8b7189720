#include "translate/translation.h"

#include <atomic>
#include <exception>
#include <memory>

#include "base/text.h"

namespace tarnell {

namespace {

std::unique_ptr<std::vector<std::u16string>> g_table;
std::u16string g_currentLanguage;
std::atomic<bool> g_loadRan{false};
std::atomic<bool> g_releaseRan{false};

const std::vector<std::u16string>& EmptyTable() {
    static const std::vector<std::u16string> empty;
    return empty;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

void AppendTranslationLines(std::string_view bytes, std::vector<std::u16string>& lines) {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    const std::u16string text = Utf8ToUtf16(bytes);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
        lines.emplace_back(text, start, end - start);
        if (end < text.size() && text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ++end;
        start = end + 1;
    }
}

std::vector<std::u16string> ReadTranslationLines(std::string_view bytes) {
    std::vector<std::u16string> lines;
    AppendTranslationLines(bytes, lines);
    return lines;
}

std::u16string_view LineLanguage(std::u16string_view line) {
    const size_t eq = line.find(u'=');
    return eq == std::u16string_view::npos ? std::u16string_view() : line.substr(0, eq);
}

std::u16string_view LineText(std::u16string_view line) {
    const size_t eq = line.find(u'=');
    return eq == std::u16string_view::npos ? std::u16string_view() : line.substr(eq + 1);
}

std::u16string ExpandLineBreaks(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'n') {
            out.push_back(u'\r');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::u16string LookupTranslation(const std::vector<std::u16string>& table, const std::u16string& source,
                                 const std::u16string& language) {
    if (source.empty()) return {};

    size_t match = 0;
    while (match < table.size() && !EqualsAsciiNoCase(LineText(table[match]), source)) ++match;
    if (match == table.size()) return ExpandLineBreaks(source);

    size_t first = match;
    while (first > 0 && !table[first - 1].empty()) --first;

    for (const std::u16string_view code : {std::u16string_view(language), std::u16string_view(u"en")}) {
        // A line without a language code is never an answer, also when the wanted language is empty.
        if (code.empty()) continue;
        for (size_t i = first; i < table.size() && !table[i].empty(); ++i) {
            if (LineLanguage(table[i]) == code) {
                return ExpandLineBreaks(LineText(table[i]));
            }
        }
    }
    return ExpandLineBreaks(source);
}

std::u16string TranslateText(const std::u16string& source, const std::u16string& language) {
    return LookupTranslation(TranslationTable(), source, language.empty() ? g_currentLanguage : language);
}

const std::u16string& CurrentLanguage() {
    return g_currentLanguage;
}

void SetCurrentLanguage(const std::u16string& code) {
    g_currentLanguage = code;
}

const std::vector<std::u16string>& TranslationTable() {
    return g_table ? *g_table : EmptyTable();
}

void LoadTranslationTableOnce(const std::function<std::optional<std::string>()>& read) {
    if (g_loadRan.exchange(true) || g_releaseRan) return;
    g_table = std::make_unique<std::vector<std::u16string>>();
    try {
        const std::optional<std::string> bytes = read ? read() : std::nullopt;
        if (bytes) AppendTranslationLines(*bytes, *g_table);
    } catch (const std::exception&) {
        // A table that cannot be read leaves the program untranslated, not stopped.
    }
}

void ReleaseTranslationTableOnce() {
    if (g_releaseRan.exchange(true)) return;
    g_table.reset();
    g_currentLanguage.clear();
}

}  // namespace tarnell
