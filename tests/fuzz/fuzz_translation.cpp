// Translation table reading from arbitrary resource bytes, then lookups against what was read.
#include <cstdint>

#include "fuzz_input.h"
#include "translate/translation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarnell::fuzz::Pieces in(data, size);
    const std::u16string language = in.NextText();
    const std::u16string source = in.NextText();
    const std::string_view table = in.NextBytes(true);

    const auto lines = tarnell::ReadTranslationLines(table);
    tarnell::LookupTranslation(lines, source, language);
    // Every line of the table as a source: exercises the walk up and down each entry.
    for (size_t i = 0; i < lines.size() && i < 64; ++i) {
        tarnell::LookupTranslation(lines, std::u16string(tarnell::LineText(lines[i])), language);
        tarnell::LookupTranslation(lines, std::u16string(tarnell::LineText(lines[i])), u"en");
    }
    return 0;
}
