// clang-format off
#include <windows.h>  // before <shellapi.h>
#include <shellapi.h>
// clang-format on

#include "base/shell_open_win32.h"

#include <cwchar>
#include <mutex>

#include "base/shell_dispatch_win32.h"
#include "base/shell_link.h"
#include "base/wide.h"

namespace tarnell {

namespace {
std::mutex g_hookLock;
std::function<void(const std::u16string&)> g_shellOpenHook;

// The scheme's "open" command from the registry (the user's choice of browser included), or empty.
std::u16string OpenCommandOf(const std::u16string& url) {
    using AssocQueryStringFn = HRESULT(WINAPI*)(DWORD, DWORD, LPCWSTR, LPCWSTR, LPWSTR, DWORD*);
    constexpr DWORD kAssocCommand = 1;        // ASSOCSTR_COMMAND
    constexpr DWORD kAssocNoTruncate = 0x20;  // ASSOCF_NOTRUNCATE
    HMODULE shlwapi = LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto query = shlwapi ? reinterpret_cast<AssocQueryStringFn>(
                               reinterpret_cast<void*>(GetProcAddress(shlwapi, "AssocQueryStringW")))
                         : nullptr;
    const wchar_t* scheme = url.size() > 5 && (url[4] == u's' || url[4] == u'S') ? L"https" : L"http";
    std::wstring command(4096, L'\0');
    DWORD length = DWORD(command.size());
    if (!query || FAILED(query(kAssocNoTruncate, kAssocCommand, scheme, L"open", command.data(), &length)))
        return std::u16string();
    command.resize(wcsnlen(command.c_str(), command.size()));
    return FromWide(command);
}

}  // namespace

bool ShellOpenInProcess(const std::u16string& url) {
    if (!IsShellSafeUrl(url)) return false;
    // The scheme's command is started here, with the link in its command line: the shell's own
    // ShellExecute copies the expanded command into fixed buffers that some shells (Wine's) overrun with
    // links of about a thousand characters, and every link the check accepts must open without harm.
    std::u16string program, commandLine;
    if (CommandForLink(OpenCommandOf(url), url, program, commandLine)) {
        std::wstring line = ToWide(commandLine);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(W(program), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            return true;
        }
    }
    // A scheme opened by something other than a command line (a COM handler): only the shell knows how.
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", W(url), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

void SetShellOpenHook(std::function<void(const std::u16string& target)> hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_shellOpenHook = std::move(hook);
}

void ShellOpen(const std::u16string& target) {
    // Links reach this from the service's answer: a path, a share, file: or any other scheme would let
    // the answer start programs, so only web links go to the shell.
    if (!IsShellSafeUrl(target)) return;
    std::function<void(const std::u16string&)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_shellOpenHook;
    }
    if (hook) {
        hook(target);
        return;
    }
    // The program runs elevated: the desktop shell opens the link with the user's own rights. Straight
    // from here only where no desktop shell can take it.
    if (!ShellExecuteFromDesktop(target)) ShellOpenInProcess(target);
}

}  // namespace tarnell
