#include "app/process_end_win32.h"

#include <windows.h>

#include <objbase.h>

#include "base/log_win32.h"
#include "base/single_instance_win32.h"
#include "base/ui_task_win32.h"
#include "theme/button_styles.h"
#include "translate/translation_win32.h"

namespace tarnell {

int ShutDownProcess(int exitCode, bool comInitialised, unsigned drainMs) {
    // The window is gone: a new start may open its own at once, whatever this process still finishes.
    ReleaseSingleInstance();
    // What still runs off the UI thread gets a bounded time to end: a hold request the user asked for in
    // the prompt goes out even when Yes closed the window; a connectivity wait stops at its next step.
    DrainWorkers(drainMs);

    // The log's last lines reach the file, within a bound: a slow disk does not hold the end.
    FlushLog(1000);

    UnregisterButtonStyles();
    // Detaches the table without freeing it: a worker still running may be reading it.
    ReleaseTranslationTable();
    if (comInitialised) CoUninitialize();

    // A worker counts as running until its work has returned; after that it touches nothing of the
    // program. With none left the process ends as usual, through the C++ run-time's exit.
    if (RunningWorkers() > 0) ExitProcess(static_cast<UINT>(exitCode));
    return exitCode;
}

}  // namespace tarnell
