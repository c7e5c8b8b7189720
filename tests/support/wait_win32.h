// Test support, Win32: waiting for what a test expects while this thread's messages keep flowing (its own
// windows, sent messages and WinEvent hooks need the queue run). The one wait of every Win32 test.
#pragma once

#include <windows.h>

#include <algorithm>

namespace tarnell::test {

// Runs this thread's message queue until `done` answers true, looking again as each message arrives and at
// least every `stepMs`; false when `timeoutMs` passes first.
template <typename Done>
bool WaitUntil(Done&& done, DWORD timeoutMs, DWORD stepMs = 10) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= until) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<ULONGLONG>(stepMs, until - now)),
                                  QS_ALLINPUT);
    }
}

// Runs the queue for `milliseconds`, for what gives no sign to wait on (a repaint reaching the screen,
// or a check that something does not happen).
inline void PumpFor(DWORD milliseconds) {
    WaitUntil([] { return false; }, milliseconds);
}

}  // namespace tarnell::test
