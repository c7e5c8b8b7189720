// Win32 glue of the command line: the process's own arguments, the single-instance guard, and the
// run control's system services used directly (no window, no hand-over to a UI thread).
#pragma once

#include <string>
#include <vector>

#include "app/command_line.h"

namespace tarnell {

// The process's arguments after the program's name, as the system splits its command line.
std::vector<std::u16string> ProcessArguments();

// Runs a command other than Window (see command_line.h) and answers the process's exit code. Bad
// arguments and --help are answered before the single-instance guard is asked, so they never wait on it
// or hold it; --apply and --revert hold the guard while they run.
int RunCommandLine(TCommand command);

// Shows the --help text: written to standard output when the caller redirected it (a file or a pipe),
// else to the console the program was started from, else in a message box.
void ShowCommandLineHelp();

}  // namespace tarnell
