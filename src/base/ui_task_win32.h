// Win32 glue only: the one way work leaves the UI thread (StartWorker) and the one road back to it
// (RunOnUiThread).
//
// InitUiTasks() runs on the UI thread at start-up and makes a message-only window that lives until
// ShutdownUiTasks(). RunOnUiThread() is the synchronous hand-over: it posts the function to that window,
// so that it runs from the UI thread's message loop (not inside a sent message), and returns when it has
// run. Once shut-down has begun a task not yet begun is dropped and the hand-over answers false, so a
// worker that finishes late never reaches a window that is gone; when the UI thread itself is gone, the
// hand-over answers false as well, so no worker waits for ever.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "base/scoped_win.h"

namespace tarnell {

void InitUiTasks();
void ShutdownUiTasks();

// True when the function ran (on the UI thread) and returned; false when the UI is gone or going, or the
// function failed (what escapes it goes to the error handler, on either road).
bool RunOnUiThread(const std::function<void()>& fn);

// What the exit does with a work still running: waits for it (within DrainWorkers' bound), or leaves it
// to end with the process (work that holds nothing worth finishing, such as a connectivity wait).
enum class AtExit { Drain, Abandon };

// Starts `work` on a thread of its own that frees itself when the work ends. What escapes the work goes to
// the application's unhandled-error handler (ReportUnhandledError) and nowhere else. Every started work is
// counted until it ends. Returns the thread (to wait on, if the caller wants), empty when no thread could
// be started: then the work never runs.
ScopedHandle StartWorker(std::function<void()> work, AtExit atExit = AtExit::Drain);
// Work started and not yet ended, of either kind.
int RunningWorkers();
// At exit: waits up to `milliseconds` for every started AtExit::Drain work to end (hold requests,
// reports); true when none is left.
bool DrainWorkers(unsigned milliseconds);
// Makes StartWorker fail as when the system has no resources for a thread; for tests.
void SetWorkerStartFailsForTests(bool fails);

// Waits until `object` is signalled while running the tasks handed over to this (the UI) thread.
void WaitServingUiTasks(HANDLE object);

// Waits `milliseconds` (a deadline, not a count of steps); returns early, with false, as soon as the
// application is terminating. True when the whole time passed.
bool WaitUnlessTerminating(unsigned milliseconds);

// Where an error that escapes a handed-over task goes (the application's unhandled-error box).
// Without a handler the error is dropped: it never reaches the worker that handed the task over.
void SetUiTaskErrorHandler(void (*handler)(std::exception_ptr error));

// The application's terminating flag: set when the main window closes; workers poll it between steps.
bool IsTerminating();
void SetTerminating();

}  // namespace tarnell
