// Seams for the update tests: what would reach the shell, the 10 ms pause step, and the shown prompt.
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
// Replaces Sleep(10) in the service check's pauses.
void SetServicePauseStepHook(std::function<void()> hook);
// Called on the UI thread once the update prompt is laid out and shown; it must end the prompt,
// e.g. by posting WM_COMMAND with IDYES, IDNO or IDCANCEL to `prompt`.
void SetUpdateDialogHook(std::function<void(HWND prompt)> hook);

}  // namespace tarnell
