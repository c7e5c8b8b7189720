// Text helpers shared by every subsystem. Program text is UTF-16 (std::u16string): positions and
// lengths count UTF-16 code units, the same on Windows and in the native build.
#pragma once

#include <string>
#include <string_view>

namespace tarnell {

// UTF-8 to UTF-16. Invalid or truncated sequences become U+FFFD; never throws on bad input.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// ASCII-only case folding: a-z and A-Z change, every other code unit stays as it is.
constexpr char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}
constexpr char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}
std::u16string AsciiLowerCase(std::u16string_view text);
std::u16string AsciiUpperCase(std::u16string_view text);
bool EqualsAsciiNoCase(std::u16string_view a, std::u16string_view b);

// Plain ASCII literal to UTF-16, for tests and fixed texts.
std::u16string FromAscii(std::string_view ascii);

}  // namespace tarnell
