// Win32 glue only: the one road from worker threads to the UI thread.
//
// InitUiTasks() runs on the UI thread at start-up and makes a message-only window that lives until
// ShutdownUiTasks(). RunOnUiThread() is the synchronous hand-over: it runs the function on the UI thread
// and returns when it has run. Once shut-down has begun the hand-over is dropped and answers false, so
// a worker that finishes late never reaches a window that is gone.
#pragma once

#include <exception>
#include <functional>

namespace tarnell {

void InitUiTasks();
void ShutdownUiTasks();

// True when the function ran (on the UI thread); false when the UI is gone or going.
bool RunOnUiThread(const std::function<void()>& fn);

// Where an error that escapes a handed-over task goes (the application's unhandled-error box).
// Without a handler the error is dropped: it never reaches the worker that handed the task over.
void SetUiTaskErrorHandler(void (*handler)(std::exception_ptr error));

// The application's terminating flag: set when the main window closes; workers poll it between steps.
bool IsTerminating();
void SetTerminating();

}  // namespace tarnell
