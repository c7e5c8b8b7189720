// Runs this thread's message queue (sent messages included) until `done` answers true or time runs out.
#pragma once

#include <windows.h>

#include <chrono>

namespace tarnell::test {

template <class Done>
bool PumpMessagesUntil(Done done, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace tarnell::test
