// Seams for the update tests: what would reach the shell, the pause after a failure, the time-outs, the
// worker's thread and the shown prompt.
// Each hook is process-wide; pass an empty function to restore the real behaviour.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tarnell {

// Receives what ShellOpen would hand to the shell (after its safety check) instead of the shell.
void SetShellOpenHook(std::function<void(const std::u16string& target)> hook);
// Shortens every time-out of FetchText (normally 60 s each); 0 restores the normal ones.
void SetFetchTimeoutForTests(unsigned milliseconds);
// Replaces the service check's pause after a failed attempt (10 s, cut short when the application is
// terminating); the hook returns false to end the worker as termination would.
void SetServicePauseHook(std::function<bool(int milliseconds)> hook);
// Makes the service check's thread fail to start, as when the system has no resources for it.
void SetServiceThreadFailsForTests(bool fails);
// Called on the UI thread once the update prompt is laid out and shown; it must end the prompt,
// e.g. by posting WM_COMMAND with IDYES, IDNO or IDCANCEL to `prompt`.
void SetUpdateDialogHook(std::function<void(HWND prompt)> hook);

}  // namespace tarnell
