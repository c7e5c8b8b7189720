// Win32 glue only: one instance of the program per session, guarded by a named mutex.
#pragma once

namespace tarnell {

inline constexpr wchar_t kInstanceMutexName[] = L"TarnellMutex";

// True when this process may run. The mutex is opened first; when that fails it is created with
// initial ownership and held for the life of the process (the system frees it at exit). A creation
// that finds the mutex already there (two instances started at the same moment) also answers false.
bool AcquireSingleInstance(const wchar_t* mutexName = kInstanceMutexName);

// Lets the next instance start while this one only finishes what is left (reports, a hold request).
void ReleaseSingleInstance();

}  // namespace tarnell
