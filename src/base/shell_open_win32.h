// Win32 glue only: every link the program opens goes through here. Only links IsShellSafeUrl accepts
// reach the shell; the program runs elevated, so the desktop shell opens them with the user's own rights,
// and the program's own ShellExecute only where no desktop shell can take them.
#pragma once

#include <functional>
#include <string>

namespace tarnell {

// Hands an absolute http:// or https:// URL to the shell's "open" verb; anything else is not opened.
void ShellOpen(const std::u16string& target);

// The road where no desktop shell can take a link: the scheme's "open" command started by the program
// itself with the link in its command line (so any length the link check accepts opens), or the program's
// own ShellExecute for a scheme that has no command. True when something was started.
bool ShellOpenInProcess(const std::u16string& url);

// Receives what ShellOpen would hand to the shell (after its safety check) instead of the shell; an
// empty function restores the shell. Process-wide, for tests.
void SetShellOpenHook(std::function<void(const std::u16string& target)> hook);

}  // namespace tarnell
