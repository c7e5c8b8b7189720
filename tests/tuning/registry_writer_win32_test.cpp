// The tweak set through the system registry writer, against the test prefix's real registry.
#include "tuning/registry_writer_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "base/text.h"
#include "base/wide.h"
#include "tuning/tweaks.h"

using namespace tarnell;

namespace {

const std::wstring kInterfaces = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
const std::wstring kGuid = L"{7A3B0C1D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}";
const std::wstring kAdapterKey = kInterfaces + L"\\" + kGuid;
const std::wstring kMsmq = L"SOFTWARE\\Microsoft\\MSMQ\\Parameters";
const std::wstring kProfile = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";

struct Value {
    DWORD type;
    DWORD data;
    DWORD size;
};

std::optional<Value> Read(const std::wstring& subkey, const wchar_t* name, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Value v{};
    v.size = sizeof v.data;
    const LONG rc = RegQueryValueExW(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(&v.data), &v.size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return v;
}

void CheckDword(const std::wstring& subkey, const wchar_t* name, DWORD expected) {
    INFO(Utf16ToUtf8(FromWide(name)));
    const std::optional<Value> v = Read(subkey, name);
    REQUIRE_MESSAGE(v.has_value(), "value missing");
    CHECK(v->type == REG_DWORD);
    CHECK(v->size == sizeof(DWORD));
    CHECK(v->data == expected);
}

bool KeyExists(HKEY root, const std::wstring& subkey, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteTree(const std::wstring& subkey) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | view, &key) !=
            ERROR_SUCCESS)
            continue;
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), view, 0);
    }
}

void DeleteValue(const std::wstring& subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}

// Every (key, value name) pair under the interfaces key, the key itself included.
std::set<std::pair<std::wstring, std::wstring>> InterfaceValues() {
    std::set<std::pair<std::wstring, std::wstring>> all;
    auto collect = [&](const std::wstring& subkey) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS)
            return;
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD length = 512;
            if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            all.insert({subkey, name});
        }
        RegCloseKey(key);
    };
    collect(kInterfaces);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInterfaces.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD length = 512;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            collect(kInterfaces + L"\\" + name);
        }
        RegCloseKey(key);
    }
    return all;
}

const std::array<bool, kTweakCount> kAll = {true, true, true, true, true};

}  // namespace

TEST_CASE("apply all five for an adapter, read every value back, then revert") {
    DeleteTree(kAdapterKey);
    DeleteTree(kMsmq);
    SystemRegistryWriter writer;

    ApplyTweaks(kAll, FromWide(kGuid), writer);
    CheckDword(kAdapterKey, L"TcpAckFrequency", 1);
    CheckDword(kAdapterKey, L"TcpDelAckTicks", 0);
    CheckDword(kMsmq, L"TCPNoDelay", 1);
    CheckDword(kProfile, L"NetworkThrottlingIndex", 0xFFFFFFFFu);
    CheckDword(kProfile, L"SystemResponsiveness", 0);

    RevertTweaks(FromWide(kGuid), writer);
    CHECK_FALSE(Read(kAdapterKey, L"TcpAckFrequency").has_value());
    CHECK_FALSE(Read(kAdapterKey, L"TcpDelAckTicks").has_value());
    CHECK_FALSE(Read(kMsmq, L"TCPNoDelay").has_value());
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kMsmq));
    CheckDword(kProfile, L"NetworkThrottlingIndex", 10);
    CheckDword(kProfile, L"SystemResponsiveness", 20);

    DeleteTree(kAdapterKey);
}

TEST_CASE("revert on a registry where nothing was applied creates the keys and resets the profile") {
    DeleteTree(kAdapterKey);
    DeleteTree(kMsmq);
    DeleteValue(kProfile, L"NetworkThrottlingIndex");
    DeleteValue(kProfile, L"SystemResponsiveness");
    REQUIRE_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsmq));

    SystemRegistryWriter writer;
    RevertTweaks(FromWide(kGuid), writer);
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kMsmq));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kAdapterKey));
    CHECK_FALSE(Read(kMsmq, L"TCPNoDelay").has_value());
    CheckDword(kProfile, L"NetworkThrottlingIndex", 10);
    CheckDword(kProfile, L"SystemResponsiveness", 20);

    DeleteTree(kAdapterKey);
}

TEST_CASE("a root name not in the table writes and creates nothing") {
    const std::wstring subkey = L"SOFTWARE\\TarnellTuningRootTest";
    DeleteTree(subkey);
    const char16_t* paths[] = {
        u"hkey_local_machine\\SOFTWARE\\TarnellTuningRootTest",
        u"HKLM\\SOFTWARE\\TarnellTuningRootTest",
        u"SOFTWARE\\TarnellTuningRootTest",
        u"\\SOFTWARE\\TarnellTuningRootTest",
    };
    for (const char16_t* path : paths) {
        INFO(Utf16ToUtf8(path));
        WriteRegistryInteger(path, u"Value", 7);
        DeleteRegistryValue(path, u"Value");
    }
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey));
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, subkey, KEY_WOW64_32KEY));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, subkey));

    // The same path with the exact root name does write.
    WriteRegistryInteger(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\TarnellTuningRootTest", u"Value", 7);
    CheckDword(subkey, L"Value", 7);
    DeleteTree(subkey);
}

TEST_CASE("an empty adapter GUID changes no adapter's key") {
    // A neighbour adapter key that must stay as it is.
    WriteRegistryInteger(u"HKEY_LOCAL_MACHINE\\" + FromWide(kAdapterKey), u"Neighbour", 3);
    const auto before = InterfaceValues();
    REQUIRE(before.count({kAdapterKey, L"Neighbour"}) == 1);

    SystemRegistryWriter writer;
    ApplyTweaks(kAll, u"", writer);
    CHECK(InterfaceValues() == before);
    RevertTweaks(u"", writer);
    CHECK(InterfaceValues() == before);
    CheckDword(kProfile, L"NetworkThrottlingIndex", 10);

    DeleteTree(kAdapterKey);
}
