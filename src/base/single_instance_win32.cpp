#include "base/single_instance_win32.h"

#include <windows.h>

namespace tarnell {

namespace {
HANDLE g_instance = nullptr;  // the mutex this process holds, until ReleaseSingleInstance
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
    if (HANDLE held = g_instance) {
        g_instance = nullptr;
        ReleaseMutex(held);
        CloseHandle(held);
    }
}

}  // namespace tarnell
