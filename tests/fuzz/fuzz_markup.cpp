// Markup tokenizer and layout with a fixed-width measurer, at fuzzer-chosen sizes and alignments.
#include <cstdint>

#include "fuzz_input.h"
#include "theme/markup.h"

namespace {
class FixedWidthMeasurer final : public tarnell::TextMeasurer {
public:
    tarnell::TextSize Measure(std::u16string_view text, const tarnell::MarkupFont& font) override {
        const int height = font.height < 0 ? -font.height : font.height;
        const int perChar = (font.style != 0) ? 8 : 7;
        return {static_cast<int>(text.size()) * perChar, height + 3};
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarnell::fuzz::Pieces in(data, size);
    tarnell::MarkupOptions options;
    options.width = in.NextByte() * 3;
    options.height = in.NextByte();
    options.borderLeft = in.NextByte() % 8;
    options.borderTop = in.NextByte() % 8;
    options.autoBreak = in.NextByte() & 1;
    const uint8_t align = in.NextByte();
    options.lineHorzAlign = static_cast<tarnell::THorzAlign>(align % 3);
    options.overallHorzAlign = static_cast<tarnell::THorzAlign>((align / 3) % 3);
    options.lineVertAlign = static_cast<tarnell::TVertAlign>((align / 9) % 3);
    options.overallVertAlign = static_cast<tarnell::TVertAlign>((align / 27) % 3);
    tarnell::MarkupFont font;
    font.height = -static_cast<int>(in.NextByte() % 40);
    const std::u16string text = in.NextText(true);

    tarnell::ParseMarkup(text, options.autoBreak);
    FixedWidthMeasurer measurer;
    const auto layout = tarnell::LayoutMarkup(text, font, options, measurer);
    for (const auto& line : layout.lines)
        for (const auto& run : line.runs)
            if (run.width < 0 || run.height < 0) __builtin_trap();
    return 0;
}
