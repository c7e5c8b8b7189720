#include "base/http_session_win32.h"

#include <atomic>

namespace tarnell {

namespace {

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
constexpr DWORD WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY = 4;  // Windows 8.1 and later
#endif

std::atomic<bool> g_noAutomaticProxy{false};

struct IeProxyConfig {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG value{};
    ~IeProxyConfig() {
        if (value.lpszAutoConfigUrl) GlobalFree(value.lpszAutoConfigUrl);
        if (value.lpszProxy) GlobalFree(value.lpszProxy);
        if (value.lpszProxyBypass) GlobalFree(value.lpszProxyBypass);
    }
};

}  // namespace

HINTERNET OpenHttpSession(const wchar_t* agent) {
    if (!g_noAutomaticProxy) {
        if (HINTERNET session = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0))
            return session;
    }
    // Older systems: the proxy the user set by hand in the Internet settings.
    IeProxyConfig config;
    if (WinHttpGetIEProxyConfigForCurrentUser(&config.value) && config.value.lpszProxy &&
        config.value.lpszProxy[0]) {
        const wchar_t* bypass = config.value.lpszProxyBypass && config.value.lpszProxyBypass[0]
                                    ? config.value.lpszProxyBypass
                                    : WINHTTP_NO_PROXY_BYPASS;
        if (HINTERNET session =
                WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.value.lpszProxy, bypass, 0))
            return session;
    }
    return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

void SetAutomaticProxyUnavailableForTests(bool unavailable) {
    g_noAutomaticProxy = unavailable;
}

}  // namespace tarnell
