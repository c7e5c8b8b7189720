#include "base/error_boundary_win32.h"

#include <atomic>

namespace tarnell {

namespace {
std::atomic<UnhandledErrorHandler> g_errorHandler{nullptr};
}  // namespace

void SetUnhandledErrorHandler(UnhandledErrorHandler handler) {
    g_errorHandler = handler;
}

void ReportUnhandledError(std::exception_ptr error) noexcept {
    const UnhandledErrorHandler handler = g_errorHandler.load();
    if (!handler || !error) return;
    try {
        handler(error);
    } catch (...) {
        // The handler itself failed; nothing sensible is left to tell the user.
    }
}

}  // namespace tarnell
