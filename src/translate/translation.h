// The translation table and its lookup. The table is the embedded text "translate": UTF-8, one entry
// per block of lines "code=text" (ko, en, ja, zh, ru, it, fr), blocks separated by one empty line.
// Program texts are authored in Korean and shown through TranslateText.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell {

// Splits the table's bytes into lines and appends them to `lines`: a leading UTF-8 byte-order mark is
// skipped, the rest decoded as UTF-8; a line ends at CR LF, a lone CR or a lone LF; a break after the
// last line adds no empty line; nothing is trimmed.
void AppendTranslationLines(std::string_view bytes, std::vector<std::u16string>& lines);
std::vector<std::u16string> ReadTranslationLines(std::string_view bytes);

// The parts of one line, split at its first "=". A line without "=" has an empty code and text.
std::u16string_view LineLanguage(std::u16string_view line);
std::u16string_view LineText(std::u16string_view line);

// Every "\n" (backslash, lower-case n) replaced by a single carriage return.
std::u16string ExpandLineBreaks(std::u16string_view text);

// The lookup over a given table. `language` is the wanted code, already resolved (TranslateText puts
// CurrentLanguage in when the caller gives none). The source is recognised in any language of the
// table, ignoring the case of ASCII letters only; the answer is the entry's line in `language`, else its
// "en" line, else the source; every answer has its "\n" expanded.
std::u16string LookupTranslation(const std::vector<std::u16string>& table, const std::u16string& source,
                                 const std::u16string& language);

// The process-wide lookup: TranslationTable, and CurrentLanguage when `language` is empty.
// Never fails; without a table (before the load, after the release, or with no resource) it answers
// the source with "\n" expanded.
std::u16string TranslateText(const std::u16string& source, const std::u16string& language = std::u16string());

// The UI language, a two-letter code; empty until set at start-up, emptied by the release. Any thread may
// read it at any time, also while the process ends: the text handed out is never changed or freed (a
// later set or the release hands out another one).
const std::u16string& CurrentLanguage();
void SetCurrentLanguage(const std::u16string& code);

// The process-wide table's lines in file order, separator lines included (empty when none is loaded). The
// lines handed out stay readable, unchanged, for the process's life, also after the release.
const std::vector<std::u16string>& TranslationTable();

// Start-up step, effective on the first call in the process only: creates the table empty, then asks
// `read` for the table's bytes (nullopt when the program carries none) and stores their lines. An error
// while reading or splitting is dropped; the lines stored so far stay.
void LoadTranslationTableOnce(const std::function<std::optional<std::string>()>& read);
// Shut-down step, effective on the first call in the process only: detaches the table (lookups answer
// their source from then on; the lines stay in memory for whoever still reads them) and empties
// CurrentLanguage. A load after it does nothing.
void ReleaseTranslationTableOnce();

}  // namespace tarnell
