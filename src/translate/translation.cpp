#include "translate/translation.h"

#include <atomic>
#include <exception>
#include <list>
#include <mutex>

#include "base/text.h"

namespace tarnell {

namespace {

// Workers read the language and may look texts up at any time, also while the process ends (an abandoned
// service check reads the language after main has returned). So nothing here is ever changed in place,
// freed or destroyed: the table, once read, and every language text are published whole through a
// pointer, and the holder itself is never destroyed. Setting a language or releasing the table publishes
// another text (or no table); what a reader already holds stays as it was for the process's life.
struct TranslationState {
    std::atomic<const std::vector<std::u16string>*> table{nullptr};  // what lookups read; none once released
    const std::vector<std::u16string>* loaded = nullptr;             // the table read, kept after the release
    std::atomic<const std::u16string*> language{nullptr};
    std::mutex languagesLock;
    std::list<std::u16string> languages;  // every language text published, each once
    std::atomic<bool> loadRan{false};
    std::atomic<bool> releaseRan{false};

    const std::u16string* Intern(const std::u16string& code) {
        std::lock_guard<std::mutex> guard(languagesLock);
        for (const std::u16string& known : languages)
            if (known == code) return &known;
        return &languages.emplace_back(code);
    }
};

TranslationState& State() {
    static TranslationState* const state = [] {
        auto* created = new TranslationState();  // never deleted, see above
        created->language = created->Intern(std::u16string());
        return created;
    }();
    return *state;
}

const std::vector<std::u16string>& EmptyTable() {
    static const std::vector<std::u16string>* const empty = new std::vector<std::u16string>();
    return *empty;
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
    return LookupTranslation(TranslationTable(), source, language.empty() ? CurrentLanguage() : language);
}

const std::u16string& CurrentLanguage() {
    return *State().language.load();
}

void SetCurrentLanguage(const std::u16string& code) {
    TranslationState& state = State();
    state.language = state.Intern(code);
}

const std::vector<std::u16string>& TranslationTable() {
    const std::vector<std::u16string>* table = State().table.load();
    return table ? *table : EmptyTable();
}

void LoadTranslationTableOnce(const std::function<std::optional<std::string>()>& read) {
    TranslationState& state = State();
    if (state.loadRan.exchange(true) || state.releaseRan) return;
    auto* table = new std::vector<std::u16string>();  // never deleted, see TranslationState
    try {
        const std::optional<std::string> bytes = read ? read() : std::nullopt;
        if (bytes) AppendTranslationLines(*bytes, *table);
    } catch (const std::exception&) {
        // A table that cannot be read leaves the program untranslated, not stopped.
    }
    state.loaded = table;
    state.table = table;
}

void ReleaseTranslationTableOnce() {
    TranslationState& state = State();
    if (state.releaseRan.exchange(true)) return;
    // Detached, not freed: a lookup under way on another thread reads it to its end.
    state.table = nullptr;
    state.language = state.Intern(std::u16string());
}

}  // namespace tarnell
