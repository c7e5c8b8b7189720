// Win32 glue only: a lock shared by every session and account of the machine (a named mutex in the
// Global namespace), for changes that are machine-wide.
#pragma once

#include <windows.h>

#include "base/scoped_win.h"

namespace tarnell {

class TMachineLock {
  public:
    // `name` without the "Global\" prefix. Waits at most `timeoutMs` for another holder; a holder that
    // ended without releasing (abandoned) hands the lock on.
    explicit TMachineLock(const wchar_t* name, DWORD timeoutMs = 10000);
    ~TMachineLock();
    TMachineLock(const TMachineLock&) = delete;
    TMachineLock& operator=(const TMachineLock&) = delete;

    // False when the mutex could not be made or opened, or the wait timed out: the caller then changes
    // nothing (a lock that gives up must never turn into no lock).
    bool Held() const { return held_; }

  private:
    ScopedHandle mutex_;
    bool held_ = false;
};

}  // namespace tarnell
