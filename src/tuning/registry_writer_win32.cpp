#include "tuning/registry_writer_win32.h"

#include <windows.h>

#include <iterator>

#include "base/log_win32.h"
#include "base/machine_lock_win32.h"
#include "base/registry_win32.h"
#include "base/scoped_win.h"
#include "base/wide.h"
#include "tuning/registry_path.h"

namespace tarnell {

namespace {

static_assert(kTweakRegistryAccess == (KEY_READ | KEY_WRITE | KEY_WOW64_64KEY),
              "access mask of the tweak writer");

struct Location {
    HKEY root = nullptr;
    std::u16string subkey;
};

// The predefined root and the subkey a path names; no root when its name is unknown.
Location Locate(const std::u16string& path) {
    const RegistryPathParts parts = SplitRegistryPath(path);
    const uint32_t root = GetRootKey(parts.root);
    if (root == 0) return {};
    // Predefined keys are sign-extended handle values (HKEY_LOCAL_MACHINE is (HKEY)(LONG)0x80000002).
    return {reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root))), parts.subkey};
}

// Opens (creating when missing) the key a path names; empty when the root is unknown or the key
// cannot be opened or created.
ScopedHKey OpenOrCreate(const std::u16string& path) {
    const Location at = Locate(path);
    if (!at.root) return ScopedHKey();
    ScopedHKey key;
    if (RegCreateKeyExW(at.root, W(at.subkey), 0, nullptr, REG_OPTION_NON_VOLATILE, kTweakRegistryAccess,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return ScopedHKey();
    }
    return key;
}

// Opens an existing key; `error` tells why not.
ScopedHKey OpenExisting(const std::u16string& path, REGSAM access, LONG& error) {
    const Location at = Locate(path);
    ScopedHKey key;
    error = at.root ? RegOpenKeyExW(at.root, W(at.subkey), 0, access | KEY_WOW64_64KEY, key.put())
                    : ERROR_FILE_NOT_FOUND;
    return key;
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

bool SystemMachineRegistry::KeyExists(const std::u16string& path) {
    LONG error = 0;
    return static_cast<bool>(OpenExisting(path, KEY_QUERY_VALUE, error));
}

MachineRegistry::Read SystemMachineRegistry::ReadValue(const std::u16string& path, const std::u16string& name,
                                                       RawRegistryValue& value) {
    LONG error = 0;
    ScopedHKey key = OpenExisting(path, KEY_QUERY_VALUE, error);
    if (!key) return error == ERROR_FILE_NOT_FOUND ? Read::Absent : Read::Failed;
    switch (FetchRegistryValue(key.get(), name, value)) {
        case ERROR_SUCCESS:
            return Read::Present;
        case ERROR_FILE_NOT_FOUND:
            return Read::Absent;
        default:
            return Read::Failed;
    }
}

bool SystemMachineRegistry::WriteValue(const std::u16string& path, const std::u16string& name,
                                       const RawRegistryValue& value) {
    ScopedHKey key = OpenOrCreate(path);
    if (!key) return false;
    return RegSetValueExW(key.get(), W(name), 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool SystemMachineRegistry::DeleteValue(const std::u16string& path, const std::u16string& name) {
    LONG error = 0;
    ScopedHKey key = OpenExisting(path, KEY_SET_VALUE, error);
    if (!key) return error == ERROR_FILE_NOT_FOUND;
    const LONG rc = RegDeleteValueW(key.get(), W(name));
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::vector<std::u16string> SystemMachineRegistry::ValueNames(const std::u16string& path) {
    std::vector<std::u16string> names;
    LONG error = 0;
    ScopedHKey key = OpenExisting(path, KEY_QUERY_VALUE, error);
    if (!key) return names;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::wstring name(size_t(longest) + 1, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG rc = RegEnumValueW(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {  // a longer name arrived since the size was asked: ask again
            name.resize(name.size() * 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        names.push_back(FromWide(std::wstring_view(name.data(), length)));
    }
    return names;
}

std::vector<std::u16string> SystemMachineRegistry::SubkeyNames(const std::u16string& path) {
    std::vector<std::u16string> names;
    LONG error = 0;
    ScopedHKey key = OpenExisting(path, KEY_ENUMERATE_SUB_KEYS, error);
    if (!key) return names;
    // A key name is at most 255 characters.
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(FromWide(std::wstring_view(name, length)));
    }
    return names;
}

void SystemMachineRegistry::Flush(const std::u16string& path) {
    LONG error = 0;
    ScopedHKey key = OpenExisting(path, KEY_QUERY_VALUE, error);
    if (key) RegFlushKey(key.get());
}

void SystemMachineRegistry::DeleteKeyIfEmpty(const std::u16string& path) {
    LONG error = 0;
    DWORD subkeys = 1, values = 1;
    {
        ScopedHKey key = OpenExisting(path, KEY_QUERY_VALUE, error);
        if (!key || RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                     &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
    }
    if (subkeys != 0 || values != 0) return;
    const Location at = Locate(path);
    if (at.root && !at.subkey.empty()) RegDeleteKeyExW(at.root, W(at.subkey), KEY_WOW64_64KEY, 0);
}

struct SystemRecordLock::Held {
    explicit Held(DWORD timeoutMs) : lock(L"TarnellRecord", timeoutMs) {}
    TMachineLock lock;
};

SystemRecordLock::SystemRecordLock(uint32_t timeoutMs) : FTimeoutMs(timeoutMs) {}
SystemRecordLock::~SystemRecordLock() = default;

bool SystemRecordLock::Enter() {
    const ULONGLONG started = GetTickCount64();
    FHeld = std::make_unique<Held>(FTimeoutMs);
    const ULONGLONG waited = GetTickCount64() - started;
    const std::string ms = std::to_string(waited);
    if (FHeld->lock.Held()) {
        if (waited >= 100)
            Log(u"record lock: waited " + std::u16string(ms.begin(), ms.end()) + u" ms for another Tarnell");
        return true;
    }
    FHeld.reset();  // another writer kept it past the bound (or it could not be made): change nothing
    Log(u"record lock: not had after " + std::u16string(ms.begin(), ms.end()) + u" ms; nothing changed");
    return false;
}

void SystemRecordLock::Leave() {
    FHeld.reset();
}

}  // namespace tarnell
