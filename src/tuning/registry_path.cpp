#include "tuning/registry_path.h"

namespace tarnell {

uint32_t GetRootKey(std::u16string_view name) {
    for (size_t i = 0; i < RootKeyNames.size(); ++i) {
        if (RootKeyNames[i] == name) return 0x80000000u + static_cast<uint32_t>(i);
    }
    return 0;
}

RegistryPathParts SplitRegistryPath(std::u16string_view path) {
    const size_t slash = path.find(u'\\');
    if (slash == std::u16string_view::npos) return {std::u16string(), std::u16string(path)};
    return {std::u16string(path.substr(0, slash)), std::u16string(path.substr(slash + 1))};
}

}  // namespace tarnell
