// Win32 glue only: the program's one HTTP client over WinHTTP. Every request of the program (the service
// check, the connectivity probe, the crash report) is an HttpRequest sent on a session that follows the
// user's proxy.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tarnell {

using THttpHeaders = std::vector<std::pair<std::u16string, std::u16string>>;

struct HttpRequest {
    std::u16string url;  // http:// or https:// only
    const wchar_t* method = L"GET";
    THttpHeaders headers;  // in order; control characters in names and values are dropped
    std::string body;      // sent as it is
    std::u16string agent = u"Tarnell";
    // Name resolution, connect, send, the wait for the response headers and each read of the body are
    // limited to this each, and the body as a whole once more.
    DWORD timeoutMs = 60000;
    // The body is read up to this many bytes; 0: not read at all (the status line is the answer).
    size_t byteCap = 0;
    DWORD maxRedirects = 5;
    // Redirects to another scheme, host or port are not followed (the redirect is the answer), and one
    // to the same place is followed only where it keeps the method and body (307, 308) or for a GET.
    bool sameHostRedirectsOnly = false;
};

struct HttpResponse {
    DWORD status = 0;
    std::string body;
    bool overCap = false;  // the body held more than byteCap bytes: reading stopped there
};

// True when a response arrived (whatever its status) and its body, as far as asked for, was read whole;
// false on any failure (not an http/https URL, name, connect, send, no response in time, a read failing,
// the body's deadline passing, or a body that ended before the length its Content-Length announced).
bool SendHttpRequest(const HttpRequest& request, HttpResponse& response);

// A session that follows the system's proxy settings as the user's browser does: the automatic proxy
// (WPAD, a configuration script, the user's settings) where the system has it, otherwise the current
// user's manually set proxy and bypass list, otherwise a direct connection. Close with WinHttpCloseHandle.
HINTERNET OpenHttpSession(const wchar_t* agent);

// Behaves as a system without the automatic proxy (before Windows 8.1). Wine accepts the automatic
// access type but does not follow the user's settings with it, so the tests take the other road.
void SetAutomaticProxyUnavailableForTests(bool unavailable);

}  // namespace tarnell
