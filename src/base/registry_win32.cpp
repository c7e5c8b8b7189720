#include "base/registry_win32.h"

#include "base/wide.h"

namespace tarnell {

LONG FetchRegistryValue(HKEY key, const std::u16string& name, RawRegistryValue& value) {
    LONG rc = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 4 && rc == ERROR_MORE_DATA; ++attempt) {
        DWORD type = 0, size = 0;
        rc = RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return rc;
        value.data.assign(size, 0);
        rc = RegQueryValueExW(key, W(name), nullptr, &type, value.data.empty() ? nullptr : value.data.data(),
                              &size);
        if (rc == ERROR_SUCCESS) {
            value.type = type;
            value.data.resize(size);
        }
    }
    return rc;
}

}  // namespace tarnell
