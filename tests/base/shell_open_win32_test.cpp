// The road where no desktop shell takes a link: every length the link check accepts opens, and the
// program that opens it stays alive. The http and https "open" commands point at cmd.exe writing its
// argument to a log for the test's duration.
#include <doctest/doctest.h>
#include <windows.h>

#include <string>

#include "../support/file_win32.h"
#include "../support/wait_win32.h"
#include "base/shell_link.h"
#include "base/shell_open_win32.h"
#include "base/text.h"

using namespace tarnell;

namespace {

const std::wstring kFolder = L"C:\\tarnell-open-test";
const std::wstring kLog = kFolder + L"\\opened.txt";

// Points a scheme's open command elsewhere for as long as it lives.
class SchemeCommand {
  public:
    SchemeCommand(const wchar_t* scheme, const std::wstring& command)
        : path_(std::wstring(scheme) + L"\\shell\\open\\command") {
        REQUIRE(RegCreateKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) == ERROR_SUCCESS);
        wchar_t old[2048] = {};
        DWORD bytes = sizeof old - sizeof(wchar_t);
        had_ = RegQueryValueExW(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &bytes) ==
               ERROR_SUCCESS;
        old_ = old;
        RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       DWORD((command.size() + 1) * sizeof(wchar_t)));
    }
    ~SchemeCommand() {
        if (had_) {
            RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                           DWORD((old_.size() + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteValueW(key_, nullptr);
        }
        RegCloseKey(key_);
    }

  private:
    std::wstring path_;
    HKEY key_ = nullptr;
    bool had_ = false;
    std::wstring old_;
};

}  // namespace

TEST_CASE("Opened without a desktop shell, links of every accepted length reach their program") {
    CreateDirectoryW(kFolder.c_str(), nullptr);
    const std::wstring command = L"\"C:\\windows\\system32\\cmd.exe\" /c echo %1>>" + kLog;
    SchemeCommand http(L"http", command), https(L"https", command);
    const std::u16string base = u"https://a.example/";
    for (const size_t length : {size_t(900), size_t(1018), size_t(1500), size_t(2048)}) {
        CAPTURE(length);
        DeleteFileW(kLog.c_str());
        const std::u16string url = base + std::u16string(length - base.size(), u'a');
        REQUIRE(IsShellSafeUrl(url));
        const DWORD started = GetTickCount();
        CHECK(ShellOpenInProcess(url));
        const std::string expected = Utf16ToUtf8(url);
        const bool arrived = test::WaitUntil(
            [&] { return test::ReadWholeFile(kLog).find(expected) != std::string::npos; }, 30000);
        MESSAGE("link of " << length << " units: opened after " << GetTickCount() - started << " ms");
        CHECK(arrived);
        CHECK(test::Lines(test::ReadWholeFile(kLog)) == std::vector<std::string>{expected});
    }
}
