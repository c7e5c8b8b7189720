// TConfig against the registry (under Wine: the build tree's private prefix). Every case works below
// HKEY_CURRENT_USER\Software\TarnellConfigTest, removed before and after.
#include <doctest/doctest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/wide.h"
#include "config/config_win32.h"

using namespace tarnell;

namespace {

const wchar_t* const kRoot = L"Software\\TarnellConfigTest";

struct RawValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};

std::wstring KeyPath(const std::u16string& path) {
    return L"Software\\" + ToWide(path);
}

bool KeyExists(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetRaw(const std::u16string& path, const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    CHECK(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())) == ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetDword(const std::u16string& path, const wchar_t* name, DWORD value) {
    SetRaw(path, name, REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)});
}

void SetText(const std::u16string& path, const wchar_t* name, DWORD type, const std::wstring& text) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    SetRaw(path, name, type, std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t)));
}

std::optional<RawValue> GetRaw(const std::u16string& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    RawValue raw;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &raw.type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        raw.data.resize(size);
        rc = RegQueryValueExW(key, name, nullptr, &raw.type, raw.data.data(), &size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return {};
    return raw;
}

std::vector<BYTE> Dword(DWORD v) {
    return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

// Sets a key's DACL from SDDL text: "D:P" (empty, protected) denies every access.
LONG SetDacl(const std::u16string& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return -1;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(path).c_str(), 0, WRITE_DAC, &key);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        RegCloseKey(key);
    }
    LocalFree(sd);
    return rc;
}

// The same call TConfig makes, to show that a key really cannot be opened.
LONG TryCreate(const std::u16string& path) {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return rc;
}

struct CleanRoot {
    CleanRoot() { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
    ~CleanRoot() { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
};

template <typename F>
std::string ErrorOf(F read) {
    try {
        read();
    } catch (const ERegistryException& e) {
        CHECK(std::string(e.what()) == Utf16ToUtf8(e.Message()));
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST_CASE("first use creates the key, reads give defaults, writes store DWORD and REG_SZ") {
    CleanRoot clean;
    const std::u16string path = u"TarnellConfigTest\\First";
    REQUIRE_FALSE(KeyExists(path));
    {
        TConfig config(path);
        CHECK(KeyExists(path));
        CHECK(config.ReadBoolean(u"tcpnodelay", true) == true);
        CHECK(config.ReadBoolean(u"tcpnodelay", false) == false);
        CHECK(config.ReadInteger(u"status", 0) == 0);
        CHECK(config.ReadInteger(u"status", -7) == -7);
        CHECK(config.ReadString(u"name", u"기본") == u"기본");

        CHECK(config.WriteBoolean(u"tcpnodelay", true) == true);
        CHECK(config.WriteBoolean(u"tcpackfrequency", false) == false);
        CHECK(config.WriteInteger(u"status", -2) == -2);
        CHECK(config.WriteString(u"name", u"타르넬") == u"타르넬");
    }
    const auto on = GetRaw(path, L"tcpnodelay");
    REQUIRE(on);
    CHECK(on->type == REG_DWORD);
    CHECK(on->data == Dword(1));
    CHECK(GetRaw(path, L"tcpackfrequency")->data == Dword(0));
    CHECK(GetRaw(path, L"status")->data == Dword(0xFFFFFFFE));
    const auto name = GetRaw(path, L"name");
    REQUIRE(name);
    CHECK(name->type == REG_SZ);
    CHECK(name->data.size() == 2 * (3 + 1));

    // A new instance reads what the first stored.
    TConfig again(path);
    CHECK(again.ReadBoolean(u"tcpnodelay", false) == true);
    CHECK(again.ReadBoolean(u"tcpackfrequency", true) == false);
    CHECK(again.ReadInteger(u"status", 0) == -2);
    CHECK(again.ReadString(u"name", u"") == u"타르넬");
}

TEST_CASE("stored numbers: 7 reads true and is written back as 1; 256 and 5 read as stored") {
    CleanRoot clean;
    const std::u16string path = u"TarnellConfigTest\\Numbers";
    SetDword(path, L"tcpnodelay", 7);
    SetDword(path, L"status", 256);
    {
        TConfig config(path);
        const bool on = config.ReadBoolean(u"tcpnodelay", false);
        CHECK(on);
        config.WriteBoolean(u"tcpnodelay", on);
        CHECK(config.ReadInteger(u"status", 0) == 256);
    }
    CHECK(GetRaw(path, L"tcpnodelay")->data == Dword(1));
    SetDword(path, L"status", 5);
    CHECK(TConfig(path).ReadInteger(u"status", 0) == 5);
    SetDword(path, L"status", 0xFFFFFFFF);
    CHECK(TConfig(path).ReadInteger(u"status", 0) == -1);
}

TEST_CASE("a value of the wrong type or size raises the registry error with its name") {
    CleanRoot clean;
    const std::u16string path = u"TarnellConfigTest\\Types";
    SetText(path, L"tcpnodelay", REG_SZ, L"true");    // 10 bytes: more than a number holds
    SetText(path, L"tcpackfrequency", REG_SZ, L"1");  // 4 bytes, but text
    SetRaw(path, L"tcpdelacktick", REG_BINARY, {1, 0, 0, 0});
    SetRaw(path, L"networkthrottleindex", 11 /* REG_QWORD */, {1, 0, 0, 0, 0, 0, 0, 0});
    SetDword(path, L"status", 1);
    SetText(path, L"path", REG_EXPAND_SZ, L"%SystemRoot%\\x");

    TConfig config(path);
    CHECK(ErrorOf([&] { config.ReadBoolean(u"tcpnodelay", true); }) == "Failed to get data for 'tcpnodelay'");
    CHECK(ErrorOf([&] { config.ReadInteger(u"tcpnodelay", 0); }) == "Failed to get data for 'tcpnodelay'");
    CHECK(ErrorOf([&] { config.ReadBoolean(u"tcpackfrequency", true); }) ==
          "Invalid data type for 'tcpackfrequency'");
    CHECK(ErrorOf([&] { config.ReadBoolean(u"tcpdelacktick", true); }) ==
          "Invalid data type for 'tcpdelacktick'");
    CHECK(ErrorOf([&] { config.ReadBoolean(u"networkthrottleindex", true); }) ==
          "Failed to get data for 'networkthrottleindex'");
    CHECK(ErrorOf([&] { config.ReadString(u"status", u""); }) == "Invalid data type for 'status'");

    // Texts: REG_SZ and REG_EXPAND_SZ, the latter unexpanded.
    CHECK(config.ReadString(u"tcpnodelay", u"") == u"true");
    CHECK(config.ReadString(u"path", u"") == u"%SystemRoot%\\x");

    // The error leaves nothing behind: the next read works.
    CHECK(config.ReadInteger(u"status", 0) == 1);
    // Writing over the wrong type replaces it.
    config.WriteBoolean(u"tcpnodelay", false);
    CHECK(config.ReadBoolean(u"tcpnodelay", true) == false);
}

TEST_CASE("a key that cannot be opened: defaults, and writes that fail silently") {
    CleanRoot clean;

    SUBCASE("access denied by the key's security descriptor") {
        const std::u16string path = u"TarnellConfigTest\\Locked";
        SetDword(path, L"tcpnodelay", 0);
        SetDword(path, L"status", 1);
        REQUIRE(SetDacl(path, L"D:P") == ERROR_SUCCESS);
        REQUIRE(TryCreate(path) == ERROR_ACCESS_DENIED);
        {
            TConfig config(path);
            CHECK(config.ReadBoolean(u"tcpnodelay", true) == true);
            CHECK(config.ReadInteger(u"status", 0) == 0);
            CHECK(config.ReadString(u"status", u"d") == u"d");
            CHECK(config.WriteBoolean(u"tcpnodelay", true) == true);
            CHECK(config.WriteInteger(u"status", 5) == 5);
            CHECK(config.WriteString(u"name", u"x") == u"x");
        }
        REQUIRE(SetDacl(path, L"D:P(A;;KA;;;WD)") == ERROR_SUCCESS);
        CHECK(GetRaw(path, L"tcpnodelay")->data == Dword(0));
        CHECK(GetRaw(path, L"status")->data == Dword(1));
        CHECK_FALSE(GetRaw(path, L"name"));
    }

    SUBCASE("a lasting key below a volatile one") {
        HKEY parent = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TarnellConfigTest\\Volatile", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent,
                                nullptr) == ERROR_SUCCESS);
        RegCloseKey(parent);
        const std::u16string path = u"TarnellConfigTest\\Volatile\\Child";
        REQUIRE(TryCreate(path) != ERROR_SUCCESS);
        {
            TConfig config(path);
            CHECK(config.ReadBoolean(u"tcpnodelay", true) == true);
            CHECK(config.ReadInteger(u"status", 3) == 3);
            CHECK(config.WriteInteger(u"status", 1) == 1);
        }
        CHECK_FALSE(KeyExists(path));
    }
}
