#include "tuning/registry_writer_win32.h"

#include <windows.h>

#include "base/scoped_win.h"
#include "base/wide.h"
#include "tuning/registry_path.h"

namespace tarnell {

namespace {

static_assert(kTweakRegistryAccess == (KEY_READ | KEY_WRITE | KEY_WOW64_64KEY),
              "access mask of the tweak writer");

// Opens (creating when missing) the key a path names; empty when the root is unknown or the key
// cannot be opened or created.
ScopedHKey OpenOrCreate(const std::u16string& path) {
    const RegistryPathParts parts = SplitRegistryPath(path);
    const uint32_t root = GetRootKey(parts.root);
    if (root == 0) return ScopedHKey();
    // Predefined keys are sign-extended handle values (HKEY_LOCAL_MACHINE is (HKEY)(LONG)0x80000002).
    const HKEY rootKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
    HKEY key = nullptr;
    if (RegCreateKeyExW(rootKey, W(parts.subkey), 0, nullptr, REG_OPTION_NON_VOLATILE, kTweakRegistryAccess,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return ScopedHKey();
    }
    return ScopedHKey(key);
}

}  // namespace

void WriteRegistryInteger(const std::u16string& path, const std::u16string& name, int32_t value) {
    try {
        ScopedHKey key = OpenOrCreate(path);
        if (!key) return;
        const DWORD data = static_cast<DWORD>(value);
        RegSetValueExW(key.get(), W(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    } catch (...) {
        // Writes of the tweak set are best effort; the caller goes on.
    }
}

void DeleteRegistryValue(const std::u16string& path, const std::u16string& name) {
    try {
        ScopedHKey key = OpenOrCreate(path);
        if (!key) return;
        RegDeleteValueW(key.get(), W(name));
    } catch (...) {
    }
}

}  // namespace tarnell
