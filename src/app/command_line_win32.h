// Win32 glue of the command line: the process's own arguments, the single-instance guard, and the
// run control's system services used directly (no window, no hand-over to a UI thread).
#pragma once

#include <string>
#include <vector>

namespace tarnell {

// The process's arguments after the program's name, as the system splits its command line.
std::vector<std::u16string> ProcessArguments();

// Runs the command the arguments name and answers the process's exit code (see command_line.h). Bad
// arguments are answered before the single-instance guard is asked, so they never wait on it or hold
// it; every other command holds the guard while it runs.
int RunCommandLine(const std::vector<std::u16string>& arguments);

}  // namespace tarnell
