// Marker search and JSON unescaping over arbitrary service answers.
#include <cstdint>

#include "fuzz_input.h"
#include "update/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarnell::fuzz::Pieces in(data, size);
    const std::u16string start = in.NextText();
    const std::u16string end = in.NextText();
    const bool wrap = in.NextByte() & 1;
    const std::u16string answer = in.NextText(true);

    // The markers the program really uses, then the fuzzer's own.
    for (const auto& [s, e] : {std::pair<std::u16string, std::u16string>{u"\"update\":\"", u"\""},
                               {u"\"info\":{", u"}"},
                               {start, end}}) {
        const std::u16string field = tarnell::ExtractBetween(answer, s, e, wrap);
        tarnell::JSONUnescape(field);
        int32_t position = static_cast<int32_t>(in.NextByte()) - 8;  // includes positions before the start
        tarnell::FindBetween(answer, s, e, position);
    }
    tarnell::JSONUnescape(answer);
    return 0;
}
