// Opening a link through the desktop shell, so that what opens it runs with the shell's rights rather
// than the program's (the program runs elevated).
#pragma once

#include <string>

namespace tarnell {

// Hands `url` to the desktop shell's own ShellExecute (the shell dispatch object behind the desktop's
// folder view). False when that object cannot be reached: no desktop shell (another shell, or none, or
// the shell restarting), no COM on this thread, or a shell that does not offer the dispatch object.
// True once the shell took the request, whatever it then did with it.
bool ShellExecuteFromDesktop(const std::u16string& url);

}  // namespace tarnell
