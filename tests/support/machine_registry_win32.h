// Test support, Win32: the machine registry (64-bit view) and the program's per-user settings as a test
// sets them up and reads them back, and the machine's record of the tweak set.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnell::test {

inline constexpr wchar_t kMachineRecordKey[] = L"SOFTWARE\\Vorbeck\\Tarnell\\Applied";

// A machine value as stored: type and bytes.
using MachineValue = std::pair<DWORD, std::vector<BYTE>>;

inline bool MachineKeyExists(const std::wstring& subkey, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Removes the key with everything below it; nothing when it is not there.
inline void DeleteMachineTree(const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), KEY_WOW64_64KEY, 0);
}

inline std::optional<MachineValue> ReadMachineValue(const std::wstring& subkey, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::optional<MachineValue> out;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size);
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            out = MachineValue(type, data);
    }
    RegCloseKey(key);
    return out;
}

// Sets the value (creating the key), or removes it when `value` is empty. False when the key cannot be made.
inline bool SetMachineValue(const std::wstring& subkey, const std::wstring& name,
                            const std::optional<MachineValue>& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    if (value)
        RegSetValueExW(key, name.c_str(), 0, value->first, value->second.data(), DWORD(value->second.size()));
    else
        RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
    return true;
}

inline MachineValue Dword(DWORD value) {
    return {REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}};
}

// A fresh start for the program: no per-user settings, and no machine record of an earlier test's Start
// (which would show the running look). The tweak values themselves are left as they are.
inline void ForgetSettings() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
    DeleteMachineTree(kMachineRecordKey);
}

}  // namespace tarnell::test
