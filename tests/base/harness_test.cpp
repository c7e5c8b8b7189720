// The Windows test lane itself: each test runs under Wine with a display and a private prefix.
#include <doctest/doctest.h>

#ifdef _WIN32
#include <windows.h>

TEST_CASE("windows tests run with a display and a writable private registry") {
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    REQUIRE(hwnd != nullptr);
    CHECK(DestroyWindow(hwnd));

    HKEY key{};
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TarnellHarness", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS);
    DWORD value = 42;
    CHECK(RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
          ERROR_SUCCESS);
    RegCloseKey(key);
    CHECK(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnellHarness") == ERROR_SUCCESS);
}
#else
TEST_CASE("native tests build with the host compiler") {
    CHECK(sizeof(char16_t) == 2);
}
#endif
