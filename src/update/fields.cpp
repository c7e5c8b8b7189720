#include "update/fields.h"

#include <algorithm>

#include "base/text.h"

namespace tarnell {

namespace {

// First occurrence of `sought` in `text` that begins at the 1-based position `from` or later; 0 when none.
size_t PosFrom(const std::u16string& sought, const std::u16string& text, int64_t from) {
    if (from < 1 || sought.empty() || text.empty()) return 0;
    const auto start = static_cast<size_t>(from - 1);
    if (start >= text.size() || text.size() - start < sought.size()) return 0;
    const size_t found = text.find(sought, start);
    return found == std::u16string::npos ? 0 : found + 1;
}

// True when `marker` is a non-empty piece of the two-character text "' (double quote, single quote).
bool IsQuoteLike(const std::u16string& marker) {
    static const std::u16string kQuotes = u"\"'";
    return !marker.empty() && kQuotes.find(marker) != std::u16string::npos;
}

// Every backslash + end marker (left to right, no overlap) becomes as many backslashes, so an escaped
// quote no longer reads as the end of a value and every position in the copy stays a position in the text.
void MaskEscapedEndMarker(std::u16string& copy, const std::u16string& endMarker) {
    const std::u16string escaped = u"\\" + endMarker;
    size_t at = copy.find(escaped);
    while (at != std::u16string::npos) {
        copy.replace(at, escaped.size(), escaped.size(), u'\\');
        at = copy.find(escaped, at + escaped.size());
    }
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

std::u16string FindBetween(const std::u16string& text, const std::u16string& startMarker,
                           const std::u16string& endMarker, int32_t& position) {
    std::u16string copy = AsciiUpperCase(text);
    const std::u16string start = AsciiUpperCase(startMarker);
    const std::u16string end = AsciiUpperCase(endMarker);
    if (IsQuoteLike(end)) MaskEscapedEndMarker(copy, end);

    size_t valueBegin = 1;
    if (!start.empty()) {
        const size_t p = PosFrom(start, copy, position);
        if (p == 0) {
            position = 0;
            return std::u16string();
        }
        valueBegin = p + start.size();
    }

    size_t e = text.size() + 1;
    if (!end.empty()) {
        e = PosFrom(end, copy, static_cast<int64_t>(valueBegin));
        if (e == 0) {
            position = 0;
            return std::u16string();
        }
    }

    position = static_cast<int32_t>(e + 1);
    return text.substr(valueBegin - 1, e - valueBegin);
}

std::u16string ExtractBetween(const std::u16string& text, const std::u16string& startMarker,
                              const std::u16string& endMarker, bool wrap) {
    int32_t position = 1;
    std::u16string found = FindBetween(text, startMarker, endMarker, position);
    if (wrap) {
        bool blank = true;
        for (char16_t c : found) {
            if (c > u' ') {
                blank = false;
                break;
            }
        }
        if (!blank) return startMarker + found + endMarker;
    }
    return found;
}

std::u16string JSONUnescape(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const char16_t c = text[i];
        if (c != u'\\') {
            out.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 >= n) break;  // a trailing backslash is dropped
        const char16_t next = text[i + 1];
        i += 2;
        switch (next) {
            case u'"':
                out.push_back(u'"');
                break;
            case u'\'':
                out.push_back(u'\'');
                break;
            case u'/':
                out.push_back(u'/');
                break;
            case u'\\':
                out.push_back(u'\\');
                break;
            case u'b':
                out.push_back(u'\b');
                break;
            case u'f':
                out.push_back(u'\f');
                break;
            case u'n':
                out.push_back(u'\n');
                break;
            case u'r':
                out.push_back(u'\r');
                break;
            case u't':
                out.push_back(u'\t');
                break;
            case u'u': {
                // Up to four hex digits (fewer at the end of the text). Anything else is not an escape the
                // answer could mean: keep "\u" as it stands and read on from what follows it.
                const size_t digits = std::min<size_t>(4, n - i);
                unsigned value = 0;
                bool hex = digits > 0;
                for (size_t k = 0; k < digits && hex; ++k) {
                    const int v = HexValue(text[i + k]);
                    if (v < 0) hex = false;
                    value = value * 16 + static_cast<unsigned>(v < 0 ? 0 : v);
                }
                if (hex) {
                    out.push_back(static_cast<char16_t>(value));
                    i += digits;
                } else {
                    out += u"\\u";
                }
                break;
            }
            default:
                break;  // an unknown escape vanishes with its backslash
        }
    }
    return out;
}

}  // namespace tarnell
