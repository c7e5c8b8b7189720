#include "base/shell_link.h"

#include <algorithm>
#include <iterator>

#include "base/text.h"

namespace tarnell {

namespace {

struct CodeRange {
    char32_t first, last;
};

#include "base/unicode_classes.inc"

template <size_t N>
bool InRanges(const CodeRange (&ranges)[N], char32_t c) {
    const CodeRange* end = ranges + N;
    const CodeRange* at =
        std::upper_bound(ranges, end, c, [](char32_t value, const CodeRange& r) { return value < r.first; });
    return at != ranges && c <= std::prev(at)->last;
}

// Format characters (Cf), private use (Co, drawn as nothing or as whatever a font puts there) and
// unassigned code points (Cn, noncharacters among them): none of them shows what it is.
bool IsHiddenCategory(char32_t c) {
    return InRanges(kCfRanges, c) || InRanges(kCoRanges, c) || InRanges(kCnRanges, c);
}

bool IsCombiningMark(char32_t c) {
    return InRanges(kMnRanges, c) || InRanges(kMeRanges, c);
}

// Marks that draw over or around what they follow, so that it reads as something else (a struck-out or
// circled character), and symbols that draw as a blank: refused wherever they stand.
bool IsDisguisingMark(char32_t c) {
    return InRanges(kMeRanges, c) ||      // enclosing marks (circle, square, keycap...)
           (c >= 0x334 && c <= 0x338) ||  // overlays: tilde, strokes, solidus
           (c >= 0x20D2 && c <= 0x20D3) || (c >= 0x20D8 && c <= 0x20DA) || (c >= 0x20E5 && c <= 0x20E6) ||
           (c >= 0x20EA && c <= 0x20EB) ||    // combining overlays of the symbol block
           c == 0x1D159 ||                    // musical symbol null notehead
           c == 0xFFFC ||                     // object replacement character
           c == 0x16FE4 ||                    // Khitan small script filler
           (c >= 0x13430 && c <= 0x13455) ||  // Egyptian hieroglyph format controls
           (c >= 0x1BCA0 && c <= 0x1BCAF);    // shorthand format controls and their block
}

// Code points that show as nothing or as a blank, or that reorder or hide what follows: every Unicode
// space, the line and paragraph separators, the format characters (bidirectional marks, overrides and
// isolates, zero-width characters, invisible operators, tags and the like), every
// Default_Ignorable_Code_Point (variation selectors, the combining grapheme joiner, the Hangul fillers, Khmer
// inherent vowels...) and the blank braille pattern.
bool IsInvisibleOrBlank(char32_t c) {
    if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) return true;  // C0, DEL, C1, no-break space
    switch (c) {
        case 0xAD:    // soft hyphen
        case 0x61C:   // Arabic letter mark
        case 0x6DD:   // Arabic end of ayah
        case 0x70F:   // Syriac abbreviation mark
        case 0x8E2:   // Arabic disputed end of ayah
        case 0x1680:  // Ogham space mark
        case 0x180E:  // Mongolian vowel separator
        case 0x202F:  // narrow no-break space
        case 0x205F:  // medium mathematical space
        case 0x3000:  // ideographic space
        case 0xFEFF:  // zero-width no-break space
        case 0x110BD:
        case 0x110CD:
        case 0x34F:   // combining grapheme joiner
        case 0x3164:  // Hangul filler
        case 0xFFA0:  // halfwidth Hangul filler
        case 0x2800:  // braille pattern blank
            return true;
        default:
            break;
    }
    return (c >= 0x600 && c <= 0x605) || (c >= 0x2000 && c <= 0x200F) ||  // spaces, zero-width, marks
           (c >= 0x2028 && c <= 0x202E) ||                                // separators, embeddings, overrides
           (c >= 0x2060 && c <= 0x206F) ||  // joiners, invisible operators, isolates
           (c >= 0xFFF0 && c <= 0xFFFB) ||  // unassigned specials, interlinear annotation
           (c >= 0x115F && c <= 0x1160) ||  // Hangul choseong and jungseong fillers
           (c >= 0x17B4 && c <= 0x17B5) ||  // Khmer inherent vowels
           (c >= 0x180B && c <= 0x180F) ||  // Mongolian free variation selectors
           (c >= 0xFE00 && c <= 0xFE0F) ||  // variation selectors
           (c >= 0x13430 && c <= 0x1343F) || (c >= 0x1BCA0 && c <= 0x1BCA3) ||
           (c >= 0x1D173 && c <= 0x1D17A) || (c >= 0xE0000 && c <= 0xE0FFF);  // tags, variation selectors
}

bool IsNoncharacter(char32_t c) {
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

}  // namespace

bool IsShellSafeUrl(std::u16string_view url) {
    if (url.size() > kMaxShellUrlLength) return false;
    size_t schemeLength = 0;
    const std::u16string_view http = u"http://", https = u"https://";
    if (url.size() > http.size() && EqualsAsciiNoCase(url.substr(0, http.size()), http)) {
        schemeLength = http.size();
    } else if (url.size() > https.size() && EqualsAsciiNoCase(url.substr(0, https.size()), https)) {
        schemeLength = https.size();
    } else {
        return false;
    }
    if (LinkHost(url).empty()) return false;  // no host, an empty one, or user information before it
    bool markMayFollow = false;               // the code point before is one a combining mark may sit on
    for (size_t i = schemeLength; i < url.size(); ++i) {
        const char16_t c = url[i];
        char32_t point = c;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= url.size() || url[i + 1] < 0xDC00 || url[i + 1] > 0xDFFF) return false;
            point = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(url[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;  // a low surrogate without its high half
        }
        if (IsInvisibleOrBlank(point) || IsNoncharacter(point) || IsHiddenCategory(point) ||
            IsDisguisingMark(point))
            return false;
        switch (c) {
            case u'"':
            case u'<':
            case u'>':
            case u'\\':
            case u'^':
            case u'`':
            case u'|':
                return false;
            default:
                break;
        }
        // A mark at the start of a label or segment (after a delimiter, or first of all) has no base:
        // it draws over the delimiter or alone, and the link reads as something it is not.
        if (IsCombiningMark(point)) {
            if (!markMayFollow) return false;
        } else {
            markMayFollow = point >= 0x80 || (point >= u'0' && point <= u'9') ||
                            (point >= u'a' && point <= u'z') || (point >= u'A' && point <= u'Z');
        }
    }
    return true;
}

std::u16string_view LinkHost(std::u16string_view url) {
    const size_t scheme = url.find(u"://");
    if (scheme == std::u16string_view::npos) return {};
    const size_t start = scheme + 3;
    size_t end = url.find_first_of(u"/?#\\", start);
    if (end == std::u16string_view::npos) end = url.size();
    const std::u16string_view authority = url.substr(start, end - start);
    // user@host: what shows first is not where the link goes.
    if (authority.find(u'@') != std::u16string_view::npos) return {};
    size_t hostEnd = authority.size();
    if (!authority.empty() && authority[0] == u'[') {
        const size_t close = authority.find(u']');
        if (close == std::u16string_view::npos) return {};
        hostEnd = close + 1;
        if (hostEnd < authority.size() && authority[hostEnd] != u':') return {};
    } else {
        const size_t colon = authority.find(u':');
        if (colon != std::u16string_view::npos) hostEnd = colon;
    }
    return authority.substr(0, hostEnd);
}

bool CommandForLink(std::u16string_view command, std::u16string_view url, std::u16string& program,
                    std::u16string& commandLine) {
    size_t start = 0;
    while (start < command.size() && command[start] == u' ') ++start;
    size_t end = 0;
    if (start < command.size() && command[start] == u'"') {
        end = command.find(u'"', start + 1);
        if (end == std::u16string_view::npos) return false;
        program = std::u16string(command.substr(start + 1, end - start - 1));
        ++end;
    } else {
        // Unquoted, the program's path may hold blanks: it runs up to the first ".exe" that ends a word.
        end = std::u16string_view::npos;
        for (size_t i = start; i + 4 <= command.size() && end == std::u16string_view::npos; ++i) {
            if (EqualsAsciiNoCase(command.substr(i, 4), u".exe") &&
                (i + 4 == command.size() || command[i + 4] == u' '))
                end = i + 4;
        }
        if (end == std::u16string_view::npos) end = std::min(command.find(u' ', start), command.size());
        program = std::u16string(command.substr(start, end - start));
    }
    if (program.empty()) return false;
    bool placed = false;
    std::u16string arguments;
    const std::u16string_view rest = command.substr(end);
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != u'%' || i + 1 >= rest.size()) {
            arguments += rest[i];
            continue;
        }
        const char16_t what = rest[++i];
        if (what == u'1' || what == u'L' || what == u'l') {
            arguments += url;
            placed = true;
        } else if (what == u'%') {
            arguments += u'%';
        }
        // %*, %2...%9, %I, %D and the like: nothing of ours to put there.
    }
    if (!placed) arguments += std::u16string(u" \"") + std::u16string(url) + u"\"";
    commandLine = u"\"" + program + u"\"" + arguments;
    return true;
}

}  // namespace tarnell
