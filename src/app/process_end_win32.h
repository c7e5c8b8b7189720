// Win32 glue: the process's shut-down steps once the main window's message loop has ended, shared by the
// process entry and the exit tests.
#pragma once

namespace tarnell {

// What is left at exit gets a few seconds in all: a hold request on a normal network is out by then, and
// a connectivity wait ends at its next step; a stalled one is not worth keeping the process for.
inline constexpr unsigned kExitDrainMs = 5000;

// Called with the terminating flag set and the UI hand-over shut down: releases the single-instance guard
// (a new start may open its window at once), gives the work the exit waits for up to `drainMs` to end,
// runs the modules' shut-down steps (button styles, translation table, COM when `comInitialised`), and
// answers `exitCode` for wWinMain to return.
//
// Work abandoned at exit (a service check, a connectivity wait) may still run then, and returning from
// wWinMain would destroy the program's static objects under it (the update link, the pause hook, the
// client identifier's generator ...). So while any started work is left, the process ends here instead,
// with `exitCode`: the system stops those threads first, and nothing they may read is ever destroyed.
int ShutDownProcess(int exitCode, bool comInitialised, unsigned drainMs = kExitDrainMs);

}  // namespace tarnell
