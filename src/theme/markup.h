// The markup label's engine: a small tag markup (B, C, FC, BR and plain text) read into a token tree,
// laid out as measured runs in lines, wrapped at the available width and aligned.
//
// Nothing here draws or measures by itself: text sizes come from a TextMeasurer, so the Win32 label
// measures with GDI and the tests with a fixed-width fake.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "theme/button_styles.h"  // TFontStyles
#include "theme/color.h"

namespace tarnell {

enum class THorzAlign { haLeft, haCenter, haRight };
enum class TVertAlign { vaTop, vaCenter, vaBottom };

struct MarkupFont {
    std::u16string face;
    int height = -12;  // as a Windows font height: negative is the character height in pixels
    TFontStyles style = 0;
    TColor color = clWindowText;

    friend bool operator==(const MarkupFont&, const MarkupFont&) = default;
};

struct TextSize {
    int width = 0;
    int height = 0;
};

class TextMeasurer {
  public:
    virtual ~TextMeasurer() = default;
    // Width and height of text drawn in font on one line.
    virtual TextSize Measure(std::u16string_view text, const MarkupFont& font) = 0;
};

struct MarkupError {
    size_t position = 0;  // index into the text, in UTF-16 code units
    std::u16string description;

    friend bool operator==(const MarkupError&, const MarkupError&) = default;
};

// ---- Tokens --------------------------------------------------------------------------------------

enum class MarkupTag { Root, Bold, Center, FontColor, LineBreak };

struct MarkupToken {
    enum class Kind { Block, Word, Break } kind = Kind::Word;
    // Block
    MarkupTag tag = MarkupTag::Root;
    bool boldOff = false;   // B with the parameter "off"
    TColor color = clNone;  // FC
    int parent = -1;
    std::vector<int> children;
    // Word
    std::u16string word;
    bool breakable = false;
    // Break
    bool hard = false;
};

// The tree: tokens[0] is the root block; blocks refer to their children and parent by index.
struct MarkupDocument {
    std::vector<MarkupToken> tokens;
    std::vector<MarkupError> errors;
};

// The marker shown in the text where the markup is faulty.
inline constexpr char16_t kMarkupFaultMarker[] = u"<?>";

// Reads markup into a token tree. Faults never stop the reading: each adds an error and a "<?>" word.
// autoBreak: a line break in the text is a hard break (starts a new line) rather than a soft one.
MarkupDocument ParseMarkup(std::u16string_view text, bool autoBreak = true);

// Colour names the FC tag accepts (any letter case); false for unknown names and for clNone.
bool MarkupColorFromName(std::u16string_view name, TColor& color);

// ---- Layout --------------------------------------------------------------------------------------

struct MarkupOptions {
    int width = 0;  // the label's size
    int height = 0;
    int borderLeft = 0, borderTop = 0, borderRight = 0, borderBottom = 0;
    bool autoBreak = true;
    bool wordWrap = true;  // wrap at the available width; without it only line breaks start new lines
    THorzAlign lineHorzAlign = THorzAlign::haLeft;
    TVertAlign lineVertAlign = TVertAlign::vaTop;
    THorzAlign overallHorzAlign = THorzAlign::haLeft;
    TVertAlign overallVertAlign = TVertAlign::vaTop;
};

struct MarkupRun {
    std::u16string text;
    MarkupFont font;   // its own copy, with the text colour
    int x = 0, y = 0;  // within the label
    int width = 0, height = 0;
    bool breakable = false;
    THorzAlign horzAlign = THorzAlign::haLeft;
    TVertAlign vertAlign = TVertAlign::vaTop;
};

struct MarkupLine {
    std::vector<MarkupRun> runs;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct MarkupLayout {
    std::vector<MarkupLine> lines;
    std::vector<MarkupError> errors;
    int textHeight = 0;  // the sum of the line heights
};

// The label keeps its text as a list of lines: what it reads back (and lays out) is the text without one
// final line break.
std::u16string MarkupLabelText(std::u16string_view text);

// Parses text and lays it out for a label of options' size whose base font and text colour are font.
MarkupLayout LayoutMarkup(std::u16string_view text, const MarkupFont& font, const MarkupOptions& options,
                          TextMeasurer& measurer);

// The half of value rounded to the nearest integer, halves to even (3 -> 2, 1 -> 0, -3 -> -2).
int HalfRoundedToEven(int value);

}  // namespace tarnell
