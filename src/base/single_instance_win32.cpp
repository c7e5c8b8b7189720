#include "base/single_instance_win32.h"

#include <windows.h>

#include <atomic>

#include "base/scoped_win.h"

namespace tarnell {

namespace {
// The mutex this process holds, until ReleaseSingleInstance; crash reporting releases it from its own thread.
std::atomic<HANDLE> g_instance{nullptr};
}  // namespace

bool AcquireSingleInstance(const wchar_t* mutexName) {
    if (ScopedHandle existing{OpenMutexW(MUTEX_ALL_ACCESS, FALSE, mutexName)}) return false;
    ScopedHandle created(CreateMutexW(nullptr, TRUE, mutexName));
    const DWORD error = GetLastError();
    // Another instance won the race between the two calls.
    if (created && error == ERROR_ALREADY_EXISTS) return false;
    // Held until the window is gone (ReleaseSingleInstance) or the process ends. A mutex that exists but
    // may not be opened by us belongs to another instance as well.
    const bool acquired = created || error != ERROR_ACCESS_DENIED;
    if (created) g_instance = created.release();
    return acquired;
}

void ReleaseSingleInstance() {
    // ReleaseMutex fails on another thread than the owner's; closing the last handle frees it all the same.
    if (const ScopedHandle held{g_instance.exchange(nullptr)}) ReleaseMutex(held.get());
}

}  // namespace tarnell
