// Win32 glue only: the one error boundary every window procedure of ours goes through. An error that
// escapes a handler stops here and goes to the application's unhandled-error handler (the crash reporter
// once it is installed); it never leaves through DispatchMessageW or a system callback.
#pragma once

#include <windows.h>

#include <exception>

namespace tarnell {

// Where an error that escapes a window procedure goes. Without a handler it is dropped.
using UnhandledErrorHandler = void (*)(std::exception_ptr error);
void SetUnhandledErrorHandler(UnhandledErrorHandler handler);
// Hands the error to the handler; nothing the handler throws comes back out.
void ReportUnhandledError(std::exception_ptr error) noexcept;

// Runs `body` (returning LRESULT or INT_PTR) behind the boundary; after an error answers `onError`.
template <typename Result, typename Body>
Result Guarded(Result onError, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        ReportUnhandledError(std::current_exception());
        return onError;
    }
}

}  // namespace tarnell
