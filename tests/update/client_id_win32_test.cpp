// The client identifier in this test's private Wine registry.
#include <doctest/doctest.h>

#include "base/scoped_win.h"
#include "update/update_check_win32.h"

using namespace tarnell;

namespace {

void DeleteVorbeckKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vorbeck");
}

bool IsClientIdText(const std::u16string& id) {
    if (id.size() != 32) return false;
    for (char16_t c : id)
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    return true;
}

}  // namespace

TEST_CASE("The first GetClientID creates the key and VUID; later calls read the same identifier") {
    DeleteVorbeckKey();
    const std::u16string first = GetClientID();
    CHECK(IsClientIdText(first));
    CHECK(GetClientID() == first);

    ScopedHKey key;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vorbeck", 0, KEY_READ, key.put()) == ERROR_SUCCESS);
    DWORD type = 0;
    CHECK(RegQueryValueExW(key.get(), L"VUID", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS);
    CHECK(type == REG_SZ);
}

TEST_CASE("An existing VUID is never replaced, whatever it holds") {
    DeleteVorbeckKey();
    ScopedHKey key;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vorbeck", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            key.put(), nullptr) == ERROR_SUCCESS);

    SUBCASE("a text of another shape is read as it is") {
        const wchar_t value[] = L"not-a-client-id";
        RegSetValueExW(key.get(), L"VUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
        CHECK(GetClientID() == u"not-a-client-id");
    }
    SUBCASE("a number cannot be read as text: empty, and the number stays") {
        const DWORD number = 1234;
        RegSetValueExW(key.get(), L"VUID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                       sizeof number);
        CHECK(GetClientID().empty());
        DWORD type = 0, stored = 0, size = sizeof stored;
        REQUIRE(RegQueryValueExW(key.get(), L"VUID", nullptr, &type, reinterpret_cast<BYTE*>(&stored),
                                 &size) == ERROR_SUCCESS);
        CHECK(type == REG_DWORD);
        CHECK(stored == 1234);
    }
    DeleteVorbeckKey();
}

TEST_CASE("NewClientID gives a fresh identifier each time, dated today") {
    const std::u16string a = NewClientID(), b = NewClientID();
    CHECK(IsClientIdText(a));
    CHECK(IsClientIdText(b));
    CHECK(a != b);
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[8] = {};
    wsprintfW(date, L"%02d%02d%02d", now.wYear % 100, now.wMonth, now.wDay);
    CHECK(a.substr(8, 6) == std::u16string(date, date + 6));
}
