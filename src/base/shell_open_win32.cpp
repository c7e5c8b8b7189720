// clang-format off
#include <windows.h>  // before <shellapi.h>
#include <shellapi.h>
// clang-format on

#include "base/shell_open_win32.h"

#include <mutex>

#include "base/shell_dispatch_win32.h"
#include "base/shell_link.h"
#include "base/wide.h"

namespace tarnell {

namespace {
std::mutex g_hookLock;
std::function<void(const std::u16string&)> g_shellOpenHook;
}  // namespace

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
    if (!ShellExecuteFromDesktop(target))
        ShellExecuteW(nullptr, L"open", W(target), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tarnell
