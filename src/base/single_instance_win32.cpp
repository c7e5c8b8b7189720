#include "base/single_instance_win32.h"

#include <windows.h>

#include <atomic>

namespace tarnell {

namespace {
// The mutex this process holds, until ReleaseSingleInstance; crash reporting releases it from its own thread.
std::atomic<HANDLE> g_instance{nullptr};
}  // namespace

bool AcquireSingleInstance(const wchar_t* mutexName) {
    if (HANDLE existing = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, mutexName)) {
        CloseHandle(existing);
        return false;
    }
    HANDLE created = CreateMutexW(nullptr, TRUE, mutexName);
    const DWORD error = GetLastError();
    if (created && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(created);  // another instance won the race between the two calls
        return false;
    }
    // Held until the window is gone (ReleaseSingleInstance) or the process ends. A mutex that exists but
    // may not be opened by us belongs to another instance as well.
    if (created) g_instance = created;
    return created != nullptr || error != ERROR_ACCESS_DENIED;
}

void ReleaseSingleInstance() {
    if (HANDLE held = g_instance.exchange(nullptr)) {
        ReleaseMutex(held);  // fails on another thread than the owner's; closing the last handle frees it
        CloseHandle(held);
    }
}

}  // namespace tarnell
