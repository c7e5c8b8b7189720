#include "base/shell_link.h"

#include "base/text.h"

namespace tarnell {

namespace {

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
    const char16_t hostStart = url[schemeLength];
    if (hostStart == u'/' || hostStart == u'\\' || hostStart == u'?' || hostStart == u'#') return false;
    for (size_t i = 0; i < url.size(); ++i) {
        const char16_t c = url[i];
        char32_t point = c;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= url.size() || url[i + 1] < 0xDC00 || url[i + 1] > 0xDFFF) return false;
            point = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(url[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;  // a low surrogate without its high half
        }
        if (IsInvisibleOrBlank(point) || IsNoncharacter(point)) return false;
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
    }
    return true;
}

}  // namespace tarnell
