// Registry paths as text: a predefined root-key name, a backslash, then the subkey path.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnell {

// Index order matters: the predefined handle of each root is 0x80000000 plus its index.
inline constexpr std::array<std::u16string_view, 7> RootKeyNames = {
    u"HKEY_CLASSES_ROOT",     u"HKEY_CURRENT_USER",   u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
    u"HKEY_PERFORMANCE_DATA", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA",
};

// 0x80000000 + index of the exactly equal (case-sensitive, whole text) name, or 0 for an unknown name.
uint32_t GetRootKey(std::u16string_view name);

struct RegistryPathParts {
    std::u16string root;    // text before the first backslash; empty when there is none
    std::u16string subkey;  // text after the first backslash, unchanged; the whole path when there is none
};

RegistryPathParts SplitRegistryPath(std::u16string_view path);

}  // namespace tarnell
