#include "base/http_win32.h"

#include <atomic>
#include <chrono>
#include <cwchar>

#include "base/scoped_win.h"
#include "base/wide.h"

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

// A header line may carry no line break or other control character: a value from the registry must
// not be able to add headers of its own.
std::wstring HeaderLine(const std::u16string& name, const std::u16string& value) {
    std::wstring line;
    line.reserve(name.size() + value.size() + 2);
    auto append = [&line](const std::u16string& text) {
        for (char16_t c : text) {
            if (c >= 0x20 && c != 0x7F) line.push_back(static_cast<wchar_t>(c));
        }
    };
    append(name);
    line += L": ";
    append(value);
    return line;
}

struct UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;  // with the query
};

bool CrackHttpUrl(const std::wstring& url, UrlParts& out) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        DWORD(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return false;
    out.scheme = parts.nScheme;
    out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    out.port = parts.nPort;
    out.path.clear();
    if (parts.lpszUrlPath) out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) out.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (out.path.empty()) out.path = L"/";
    return true;
}

bool SameHost(const UrlParts& a, const UrlParts& b) {
    return a.scheme == b.scheme && a.port == b.port &&
           CompareStringOrdinal(a.host.c_str(), int(a.host.size()), b.host.c_str(), int(b.host.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring QueryHeaderText(HINTERNET request, DWORD what) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::wstring();
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return std::wstring();
    text.resize(bytes / sizeof(wchar_t));
    return text;
}

// Where a redirect of `from` points, when it stays on the same scheme, host and port.
bool SameHostTarget(const UrlParts& from, const std::wstring& location, UrlParts& to) {
    if (location.empty()) return false;
    if (location[0] == L'/' && (location.size() < 2 || location[1] != L'/')) {
        to = from;
        to.path = location;
        return true;
    }
    return CrackHttpUrl(location, to) && SameHost(from, to);
}

// The body up to the request's cap; false when it cannot be read whole in time, or when the connection
// ended before the length the response announced.
bool ReadBody(HINTERNET request, const HttpRequest& r, HttpResponse& response) {
    const auto bodyDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.timeoutMs);
    std::string& out = response.body;
    for (;;) {
        if (std::chrono::steady_clock::now() > bodyDeadline) return false;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) break;
        if (available > r.byteCap + 1 - out.size())
            available = static_cast<DWORD>(r.byteCap + 1 - out.size());
        const size_t at = out.size();
        out.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, out.data() + at, available, &read)) return false;
        out.resize(at + read);
        if (out.size() > r.byteCap) {
            out.resize(r.byteCap);
            response.overCap = true;
            return true;
        }
        if (read == 0) break;
    }
    // WinHTTP ends the data quietly when the server closes early: the announced length tells.
    const std::wstring length = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
        wchar_t* end = nullptr;
        const unsigned long long announced = wcstoull(length.c_str(), &end, 10);
        if (end == length.c_str() || out.size() < announced) return false;
    }
    return true;
}

}  // namespace

bool SendHttpRequest(const HttpRequest& r, HttpResponse& response) {
    response = HttpResponse();
    UrlParts target;
    if (!CrackHttpUrl(ToWide(r.url), target)) return false;

    ScopedInternet session(OpenHttpSession(W(r.agent)));
    if (!session) return false;
    // Every phase has its own limit: name resolution, connect, send, the wait for the response headers
    // (which WinHttpSetTimeouts leaves unlimited) and each read of the body; the body as a whole gets
    // one more, so a server that drips a byte now and then cannot keep the request alive either.
    const int timeout = static_cast<int>(r.timeoutMs);
    if (!WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout)) return false;
    DWORD responseTimeout = r.timeoutMs;
    // Each redirect that is followed by hand is one more round; WinHTTP follows the others itself.
    for (DWORD round = 0;; ++round) {
        response = HttpResponse();
        ScopedInternet connection(WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
        if (!connection) return false;
        ScopedInternet request(WinHttpOpenRequest(
            connection.get(), r.method, target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
            WINHTTP_DEFAULT_ACCEPT_TYPES, target.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
        if (!request) return false;
        if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                              sizeof responseTimeout))
            return false;
        if (r.sameHostRedirectsOnly) {
            DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
            if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
                return false;
        } else {
            DWORD redirects = r.maxRedirects;
            WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                             sizeof redirects);
        }

        // A header the client refuses to add (some versions refuse an empty value) still goes out,
        // present and empty: as one of the request's additional header lines, which are sent as written.
        std::wstring additional;
        for (const auto& header : r.headers) {
            const std::wstring line = HeaderLine(header.first, header.second);
            if (!WinHttpAddRequestHeaders(request.get(), line.c_str(), static_cast<DWORD>(line.size()),
                                          WINHTTP_ADDREQ_FLAG_ADD))
                additional += line + L"\r\n";
        }
        void* body = r.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(r.body.data());
        const DWORD bodySize = static_cast<DWORD>(r.body.size());
        if (!WinHttpSendRequest(
                request.get(), additional.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : additional.c_str(),
                additional.empty() ? 0 : static_cast<DWORD>(-1L), body, bodySize, bodySize, 0) ||
            !WinHttpReceiveResponse(request.get(), nullptr))
            return false;
        DWORD statusSize = sizeof response.status;
        WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &response.status, &statusSize,
                            WINHTTP_NO_HEADER_INDEX);
        if (r.sameHostRedirectsOnly && round < r.maxRedirects) {
            const DWORD s = response.status;
            const bool keepsMethod = s == 307 || s == 308;
            const bool isGet = lstrcmpiW(r.method, L"GET") == 0;
            UrlParts next;
            if ((keepsMethod || (isGet && (s == 301 || s == 302 || s == 303))) &&
                SameHostTarget(target, QueryHeaderText(request.get(), WINHTTP_QUERY_LOCATION), next)) {
                target = next;
                continue;
            }
        }
        if (r.byteCap == 0) return true;
        return ReadBody(request.get(), r, response);
    }
}

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
