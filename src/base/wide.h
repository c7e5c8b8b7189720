// Win32 glue only: UTF-16 program text to and from the wide-character API (wchar_t is 16 bits on Windows).
#pragma once

#include <string>
#include <string_view>

namespace tarnell {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide-character API is UTF-16 on Windows");

inline const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::wstring ToWide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}
inline std::u16string FromWide(std::wstring_view s) {
    return std::u16string(s.begin(), s.end());
}
inline std::u16string FromWide(const wchar_t* s) {
    return s ? FromWide(std::wstring_view(s)) : std::u16string();
}

}  // namespace tarnell
