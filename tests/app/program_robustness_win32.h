// The real tarnell.exe under stress and against hostile service answers, driven from outside: what the
// robustness test files share (one test program, a ctest entry per scenario group).
//
// What reaches the shell is observed from outside the program: for the test's duration the shell's
// http, https and file associations, and a test-only URL scheme "tarnellrec", start a small recording
// program (program_shell_recorder_win32.cpp) that writes its command line to a log; the hostile links also
// point at that recorder directly (as a path, a file: URL, a \\?\ path), so a link the shell ran in any
// way ends up in the log. A safe-link scenario of each kind (prompt's Yes, notice line, note label) shows
// the observation works.
//
// Crash reporting is driven the same way: faults are caused from outside (a thread started in the program
// at an unmapped address, at code that overflows its stack, or at the test build's hook that throws), the
// box is read and closed, and the loopback fixture's /except.php receives the reports.
//
// Environment: TARNELL_PROGRAM, TARNELL_SHELL_RECORDER (the recorder's path), TARNELL_LOOPBACK_DIR (the
// loopback fixture server's folder) and TARNELL_LOOPBACK_URL (its base URL, e.g. http://127.0.0.1:18471);
// for the planted DLLs, TARNELL_PLANTED_DLL (planted_dll_win32.cpp built) and TARNELL_PLANT_DIR (a folder
// the test may fill).
#pragma once

#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "../support/box_win32.h"
#include "build_config.h"
#include "config/config_win32.h"
#include "program_driver_win32.h"
#include "tuning/network_win32.h"
#include "tuning/registry_path.h"
#include "tuning/tweaks.h"
#include "update/update_dialog_win32.h"

namespace tarnell::e2e {

using test::BoxContent;
using test::ReadBox;
using test::VisibleBoxes;
using test::WaitForBox;

inline std::string Narrow(const std::wstring& s) {
    return Utf16ToUtf8(FromWide(s));
}

// Backslashes and quotes escaped for a JSON string.
inline std::string JsonEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// Points the shell's associations at the recorder for as long as it lives, then restores them.
class RecordingShell {
  public:
    RecordingShell() : recorder_(PathFromEnv("TARNELL_SHELL_RECORDER")) {
        const std::wstring command = L"\"" + recorder_ + L"\" \"%1\"";
        for (const wchar_t* scheme : {L"http", L"https", L"file", L"tarnellrec"}) Redirect(scheme, command);
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"tarnellrec", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) == ERROR_SUCCESS);
        RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
        RegCloseKey(key);
        Clear();
    }
    ~RecordingShell() {
        for (const Saved& saved : saved_) {
            if (saved.scheme == L"tarnellrec") {
                RegDeleteTreeW(HKEY_CLASSES_ROOT, L"tarnellrec");
                RegDeleteKeyW(HKEY_CLASSES_ROOT, L"tarnellrec");
                continue;
            }
            const std::wstring path = saved.scheme + L"\\shell\\open\\command";
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
                continue;
            if (saved.existed) {
                RegSetValueExW(key, nullptr, 0, saved.type, reinterpret_cast<const BYTE*>(saved.value.data()),
                               DWORD(saved.value.size() * sizeof(wchar_t)));
            } else {
                RegDeleteValueW(key, nullptr);
            }
            RegCloseKey(key);
        }
    }

    const std::wstring& Recorder() const { return recorder_; }
    void Clear() {
        DeleteFileW((recorder_ + L".log").c_str());
        DeleteFileW((recorder_ + L".parents").c_str());
    }

    // The executable names of the processes that started the recorder, in order.
    std::vector<std::string> Parents() const { return Lines(ReadWholeFile(recorder_ + L".parents")); }

    // The targets the recorder was started with, in order: its command line without its own name.
    std::vector<std::string> Targets() const {
        std::vector<std::string> targets;
        for (std::string line : Lines(ReadWholeFile(recorder_ + L".log"))) {
            size_t cut = 0;
            if (!line.empty() && line[0] == '"') {
                cut = line.find('"', 1);
                cut = cut == std::string::npos ? line.size() : cut + 1;
            } else {
                cut = std::min(line.find(' '), line.size());
            }
            std::string rest = line.substr(cut);
            while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
            if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
                rest = rest.substr(1, rest.size() - 2);
            targets.push_back(rest);
        }
        return targets;
    }

  private:
    struct Saved {
        std::wstring scheme;
        bool existed = false;
        DWORD type = REG_SZ;
        std::wstring value;
    };

    void Redirect(const wchar_t* scheme, const std::wstring& command) {
        const std::wstring path = std::wstring(scheme) + L"\\shell\\open\\command";
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS);
        Saved saved;
        saved.scheme = scheme;
        DWORD bytes = 0;
        if (RegQueryValueExW(key, nullptr, nullptr, &saved.type, nullptr, &bytes) == ERROR_SUCCESS) {
            saved.existed = true;
            saved.value.resize(bytes / sizeof(wchar_t) + 1);
            bytes = DWORD(saved.value.size() * sizeof(wchar_t));
            RegQueryValueExW(key, nullptr, nullptr, &saved.type, reinterpret_cast<BYTE*>(saved.value.data()),
                             &bytes);
            saved.value.resize(bytes / sizeof(wchar_t));
        }
        saved_.push_back(saved);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       DWORD((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::wstring recorder_;
    std::vector<Saved> saved_;
};

inline std::string BaseUrl() {
    const char* url = std::getenv("TARNELL_LOOPBACK_URL");
    REQUIRE(url);
    return url;
}

// A Windows path as a file: URL.
inline std::string FileUrl(const std::wstring& path) {
    std::string url = "file:///";
    for (wchar_t c : path) url += c == L'\\' ? '/' : char(c);
    return url;
}

inline std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace tarnell::e2e
