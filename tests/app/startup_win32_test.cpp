// Process-start pieces under Wine: the single-instance guard, the unhandled-error box, and a start-up
// step of the main window that fails.
#include <doctest/doctest.h>
#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../support/box_win32.h"
#include "app/error_box_win32.h"
#include "app/frm_tarnell_win32.h"
#include "base/application_title.h"
#include "base/single_instance_win32.h"
#include "base/text.h"
#include "base/ui_task_win32.h"
#include "base/wide.h"
#include "config/config_win32.h"
#include "theme/button_styles.h"
#include "translate/translation.h"
#include "translate/translation_win32.h"
#include "ui/window_win32.h"

using namespace tarnell;

namespace {

std::wstring UniqueName(const wchar_t* stem) {
    return stem + std::to_wstring(GetCurrentProcessId());
}

// Watches for a dialog of this process titled `title`, reads it once its buttons are there and presses
// "Close" (the task dialog draws its content itself under some versions; its button ends it either way).
void WatchForBox(const std::wstring& title, test::BoxContent& seen, std::atomic<bool>& done) {
    test::WaitUntil(
        [&] {
            HWND box = FindWindowW(L"#32770", title.c_str());
            if (!box || !IsWindowVisible(box)) return done.load();
            seen = test::ReadBox(box);
            PostMessageW(box, WM_COMMAND, IDCLOSE, 0);
            return true;
        },
        20000, 50);
}

}  // namespace

TEST_CASE("single instance: the first holder runs, any later one is told to end") {
    const std::wstring name = UniqueName(L"TarnellTestMutex");
    CHECK(AcquireSingleInstance(name.c_str()));
    CHECK_FALSE(AcquireSingleInstance(name.c_str()));
}

TEST_CASE("single instance: a mutex that exists but may not be opened also means another instance") {
    const std::wstring name = UniqueName(L"TarnellLockedMutex");
    // Everyone may only wait on it: opening it with all access is refused.
    PSECURITY_DESCRIPTOR sd = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1,
                                                                 &sd, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof(sa), sd, FALSE};
    HANDLE locked = CreateMutexW(&sa, FALSE, name.c_str());
    REQUIRE(locked);
    HANDLE probe = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (probe) {
        CloseHandle(probe);
        MESSAGE("this Wine does not enforce the mutex's access rights; case not checked");
    } else {
        CHECK_FALSE(AcquireSingleInstance(name.c_str()));
    }
    CloseHandle(locked);
    LocalFree(sd);
}

TEST_CASE("the unhandled-error box: the application's title, the error's message, one button Close") {
    SetApplicationTitle(u"Tarnell");
    test::BoxContent seen;
    std::atomic<bool> done{false};
    std::thread watcher([&] { WatchForBox(L"Tarnell", seen, done); });
    ShowUnhandledError(std::make_exception_ptr(std::runtime_error("Invalid data type for 'status'")));
    done = true;
    watcher.join();
    CHECK(seen.title == L"Tarnell");
    CHECK(seen.buttons == std::vector<std::wstring>{L"Close"});
    CHECK((L"\n" + seen.texts).find(L"\nInvalid data type for 'status'\n") !=
          std::wstring::npos);  // a line of its own
    CHECK(ErrorMessageText(std::make_exception_ptr(std::runtime_error("Invalid data type for 'status'"))) ==
          u"Invalid data type for 'status'");
    CHECK(ErrorMessageText(std::make_exception_ptr(42)) == u"Unknown error");
}

std::vector<std::u16string> g_errors;
void RecordError(std::exception_ptr error) {
    g_errors.push_back(ErrorMessageText(error));
}

TEST_CASE("a failing start-up step ends the sequence there; the window opens all the same") {
    LoadTranslationTable();
    RegisterVorbeckButtonStyles();
    InitUiTasks();
    SetCurrentLanguage(u"en");
    // A settings value of the wrong type makes the state load fail while it restores the options.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tarnell", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS);
    const wchar_t text[] = L"yes";
    RegSetValueExW(key, L"tcpnodelay", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    RegCloseKey(key);

    g_errors.clear();
    SetUnhandledErrorHandler(&RecordError);
    {
        TFrmTarnell form(nullptr, TFrmTarnellOptions{u"", u"https://link.tarnell.example/tarnell"});
        form.Create();
        REQUIRE(g_errors.size() == 1);
        CHECK(Utf16ToUtf8(g_errors[0]).find("'tcpnodelay'") !=
              std::string::npos);  // the settings store's message
        CHECK(form.Hwnd());
        // The steps before it ran: captions, tagline, version line; the status was never set.
        CHECK(Utf16ToUtf8(form.LblContent->Text()).rfind("<C><FC:clGray>", 0) == 0);
        CHECK(Utf16ToUtf8(form.LblVersion->Caption()).rfind("Version: ", 0) == 0);
        CHECK(TConfig(u"Tarnell").ReadInteger(u"status", -1) == -1);
        form.Show();
        CHECK(IsWindowVisible(form.Hwnd()) != FALSE);
    }
    SetUnhandledErrorHandler(nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnell");
}
