// Seams for the update tests: the pause after a failure, the time-outs and the shown prompt. (What would
// reach the shell: SetShellOpenHook in base/shell_open_win32.h; a worker that cannot start:
// SetWorkerStartFailsForTests in base/ui_task_win32.h.)
// Each hook is process-wide; pass an empty function to restore the real behaviour.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tarnell {

// Shortens every time-out of FetchText (normally 60 s each); 0 restores the normal ones.
void SetFetchTimeoutForTests(unsigned milliseconds);
// Replaces the service check's pause after a failed attempt (10 s, cut short when the application is
// terminating); the hook returns false to end the worker as termination would.
void SetServicePauseHook(std::function<bool(int milliseconds)> hook);
// Called on the UI thread once the update prompt is laid out and shown; it must end the prompt,
// e.g. by posting WM_COMMAND with IDYES, IDNO or IDCANCEL to `prompt`.
void SetUpdateDialogHook(std::function<void(HWND prompt)> hook);

}  // namespace tarnell
