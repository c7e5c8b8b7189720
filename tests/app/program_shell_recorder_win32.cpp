// Stands in for the browser and for any program the shell could start during the end-to-end tests: it
// appends its own command line, as one UTF-8 line, to the file named like itself plus ".log", and ends.
// The tests point the shell's http/https/file and test-scheme associations at it, and use its own path
// as a hostile link, so whatever the program hands to the shell is written down here.
// Beside it, in the file named like itself plus ".parents", it appends the executable name of the process
// that started it: the program itself, or the desktop shell when the program handed the link over to it.
// clang-format off
#include <windows.h>  // before <tlhelp32.h>
#include <tlhelp32.h>
// clang-format on

#include <string>

namespace {

std::string ParentName() {
    const DWORD self = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return "?";
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    std::wstring name = L"?";
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (parent && entry.th32ProcessID == parent) name = entry.szExeFile;
    CloseHandle(snapshot);
    std::string narrow;
    for (wchar_t c : name) narrow += c < 128 ? char(c) : '?';
    return narrow;
}

bool Append(const std::wstring& path, const std::string& text) {
    // Several may start at once: retry while another holds the file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
            CloseHandle(file);
            return true;
        }
        Sleep(10);
    }
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, DWORD(sizeof self / sizeof self[0]));
    if (n == 0) return 1;
    const std::wstring logPath = std::wstring(self, n) + L".log";
    const wchar_t* line = GetCommandLineW();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? size_t(bytes - 1) : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
    text += "\n";
    // The parent first: once the command line is in the log, a test may read both.
    Append(std::wstring(self, n) + L".parents", ParentName() + "\n");
    return Append(logPath, text) ? 0 : 1;
}
