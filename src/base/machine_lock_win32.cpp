#include "base/machine_lock_win32.h"

#include <sddl.h>

#include <string>

namespace tarnell {

namespace {

// Administrators and the system may use the mutex whoever made it: the program runs elevated in every
// account, and the installer runs it as the system.
ScopedHandle CreateOrOpen(const std::wstring& name) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                             &sd, nullptr))
        sa.lpSecurityDescriptor = sd;
    ScopedHandle mutex(CreateMutexW(&sa, FALSE, name.c_str()));
    if (sd) LocalFree(sd);
    if (!mutex) mutex = ScopedHandle(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    return mutex;
}

}  // namespace

TMachineLock::TMachineLock(const wchar_t* name, DWORD timeoutMs)
    : mutex_(CreateOrOpen(std::wstring(L"Global\\") + name)) {
    if (!mutex_) return;
    const DWORD wait = WaitForSingleObject(mutex_.get(), timeoutMs);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

TMachineLock::~TMachineLock() {
    if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace tarnell
