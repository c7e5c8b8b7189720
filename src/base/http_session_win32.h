// Win32 glue only: the WinHTTP session that every request of the program opens, with the user's proxy.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace tarnell {

// A session that follows the system's proxy settings as the user's browser does: the automatic proxy
// (WPAD, a configuration script, the user's settings) where the system has it, otherwise the current
// user's manually set proxy and bypass list, otherwise a direct connection. Close with WinHttpCloseHandle.
HINTERNET OpenHttpSession(const wchar_t* agent);

// Behaves as a system without the automatic proxy (before Windows 8.1). Wine accepts the automatic
// access type but does not follow the user's settings with it, so the tests take the other road.
void SetAutomaticProxyUnavailableForTests(bool unavailable);

}  // namespace tarnell
