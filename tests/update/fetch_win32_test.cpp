// FetchText against the loopback fixture service.
#include <doctest/doctest.h>

#include <chrono>

#include "base/http_win32.h"
#include "fixture_win32.h"
#include "update/update_check_win32.h"
#include "update/update_hooks_win32.h"

using namespace tarnell;
using namespace tarnell::test;

TEST_CASE("FetchText sends its headers in the given order and returns the body") {
    std::u16string data;
    const THttpHeaders headers = {{u"User-Version", u"1.6.5.0"},
                                  {u"User-Language", u"ko"},
                                  {u"User-Debug", u"false"},
                                  {u"User-Union", u"0123456789ABCDEF0123456789ABCDEF"}};
    REQUIRE(FetchText(FixtureUrl("/api/notify-only?t=order"), headers, data));
    CHECK(data == u"{\"update\":\"\",\"notify\":\"https://news.tarnell.example/only\"}");

    const auto received = ReceivedRequests("t=order");
    REQUIRE(received.size() == 1);
    CHECK(CustomHeaderNames(received[0]) ==
          std::vector<std::string>{"User-Version", "User-Language", "User-Debug", "User-Union"});
    CHECK(*received[0].Header("User-Version") == "1.6.5.0");
    CHECK(*received[0].Header("User-Language") == "ko");
    CHECK(*received[0].Header("User-Debug") == "false");
    CHECK(*received[0].Header("User-Union") == "0123456789ABCDEF0123456789ABCDEF");
}

TEST_CASE("FetchText takes an error page as an answer and decodes every body as UTF-8") {
    std::u16string data;
    REQUIRE(FetchText(FixtureUrl("/api/missing?t=404"), {}, data));
    CHECK(data.find(u"<h1>Not Found</h1>") != std::u16string::npos);
    CHECK(ReceivedRequests("t=404").size() == 1);

    REQUIRE(FetchText(FixtureUrl("/api/charset?t=charset"), {}, data));
    CHECK(data == u"{\"notify\":\"https://x.example/éд타\"}");  // declared iso-8859-1, sent as UTF-8
}

TEST_CASE("FetchText fails without touching the data when there is no answer") {
    struct Case {
        const char* what;
        std::u16string url;
    };
    const Case cases[] = {
        {"nobody listens", ClosedPortUrl("/api/notify-only")},
        {"not a URL", u"no url at all"},
        {"a scheme other than http", u"ftp://127.0.0.1/"},
        {"empty", u""},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        std::u16string data = u"kept";
        CHECK_FALSE(FetchText(c.url, {}, data));
        CHECK(data == u"kept");
    }
}

TEST_CASE("FetchText accepts an answer of exactly 1 MiB; a larger one is an answer without fields") {
    std::u16string data;
    REQUIRE(FetchText(FixtureUrl("/api/exact?t=exact"), {}, data));
    CHECK(data.size() == (size_t(1) << 20));

    data = u"kept";
    CHECK(FetchText(FixtureUrl("/api/big?t=big"), {}, data));
    CHECK(data.empty());
    CHECK(ReceivedRequests("t=big").size() == 1);
}

TEST_CASE("FetchText follows up to five redirects") {
    std::u16string data;
    CHECK(FetchText(FixtureUrl("/api/redirect/5?t=redirect5"), {}, data));
    CHECK(data == u"landed");
    CHECK(ReceivedRequests("t=redirect5").size() == 6);

    data = u"kept";
    CHECK_FALSE(FetchText(FixtureUrl("/api/redirect/6?t=redirect6"), {}, data));
    CHECK(data == u"kept");
}

TEST_CASE("A header value cannot smuggle in a header of its own") {
    std::u16string data;
    REQUIRE(FetchText(FixtureUrl("/api/notify-only?t=smuggle"),
                      {{u"User-Union", u"abc\r\nUser-Command: hold"}}, data));
    const auto received = ReceivedRequests("t=smuggle");
    REQUIRE(received.size() == 1);
    CHECK(received[0].Header("User-Command") == nullptr);
    REQUIRE(received[0].Header("User-Union"));
    CHECK(*received[0].Header("User-Union") == "abcUser-Command: hold");
}

TEST_CASE("FetchText without a URL of its own asks UpdateURL") {
    // CheckUpdate sets UpdateURL; an unanswered check is enough here, so the closed port is used.
    CHECK(UpdateURL().empty());
    std::u16string data = u"kept";
    CHECK_FALSE(FetchText({}, data));
    CHECK(data == u"kept");
}

TEST_CASE("An empty header value still lets the request go out") {
    std::u16string data;
    REQUIRE(FetchText(FixtureUrl("/api/notify-only?t=emptyunion"),
                      {{u"User-Version", u"0.0.0.0"}, {u"User-Union", u""}}, data));
    const auto received = ReceivedRequests("t=emptyunion");
    REQUIRE(received.size() == 1);
    CHECK(*received[0].Header("User-Version") == "0.0.0.0");
    REQUIRE(received[0].Header("User-Union"));
    CHECK(received[0].Header("User-Union")->empty());
}

TEST_CASE("A server that misbehaves ends the request as a failure within the time-out") {
    // The time-outs are shortened to 2 s; every phase (the wait for headers, each read, the whole body)
    // must give up within about that, never wait for the server to finish.
    constexpr unsigned kTimeoutMs = 2000;
    SetFetchTimeoutForTests(kTimeoutMs);
    struct Case {
        const char* what;
        const char* path;
    };
    const Case cases[] = {
        {"silent after accepting", "/api/silent?t=silent"},
        {"headers, then a silent body", "/api/silent-body?t=silentbody"},
        {"a body that drips a byte a second", "/api/drip?t=drip"},
        {"a redirect loop", "/api/loop?t=loop"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        struct Call {
            std::u16string url;
            std::u16string data = u"kept";
            bool result = true;
        };
        auto* call = new Call{FixtureUrl(c.path)};
        const auto start = std::chrono::steady_clock::now();
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* p) -> DWORD {
                auto* call = static_cast<Call*>(p);
                call->result = FetchText(call->url, {}, call->data);
                return 0;
            },
            call, 0, nullptr);
        REQUIRE(thread);
        // Generous for a loaded machine, far below the fixture's 30 s hold.
        const bool ended = WaitForSingleObject(thread, 4 * kTimeoutMs + 6000) == WAIT_OBJECT_0;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        CloseHandle(thread);
        REQUIRE_MESSAGE(ended, "the request was still waiting after ",
                        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), " ms");
        CHECK_FALSE(call->result);
        CHECK(call->data == u"kept");
        delete call;
    }
    SetFetchTimeoutForTests(0);
}

TEST_CASE("Requests follow the user's manual proxy where the system has no automatic proxy") {
    SetAutomaticProxyUnavailableForTests(true);
    // The user's manual proxy: the loopback fixture, which records the absolute URL it is asked for. The
    // host does not exist: only a request that went through the proxy can be answered.
    const FixturePorts ports = ReadFixturePorts();
    const std::string proxy = "127.0.0.1:" + std::to_string(ports.port);
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS);
    // The stored form of the Internet settings' connection: version, counter, flags (direct | proxy),
    // then the proxy, the bypass list and the configuration script as counted ANSI texts.
    std::vector<BYTE> blob;
    auto dword = [&blob](DWORD v) {
        for (int i = 0; i < 4; ++i) blob.push_back(BYTE(v >> (8 * i)));
    };
    auto text = [&](const std::string& s) {
        dword(DWORD(s.size()));
        blob.insert(blob.end(), s.begin(), s.end());
    };
    dword(0x46);
    dword(1);
    dword(0x3);
    text(proxy);
    text("");
    text("");
    for (int i = 0; i < 8; ++i) dword(0);
    RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, blob.data(), DWORD(blob.size()));
    RegCloseKey(key);
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS);
    const DWORD enable = 1;
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
    const std::wstring server(proxy.begin(), proxy.end());
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   DWORD((server.size() + 1) * sizeof(wchar_t)));

    std::u16string data = u"kept";
    const bool answered =
        FetchText(FromAscii("http://tarnell-proxy.invalid/api/notify-only?" + RunTag("t=proxy")), {}, data);
    // A crash report is posted through the same client, so through the proxy too.
    HttpRequest post;
    post.url = FromAscii("http://tarnell-proxy.invalid/except.php?" + RunTag("t=proxy-post"));
    post.method = L"POST";
    post.body = "=== Tarnell crash report ===\r\n";
    post.timeoutMs = 4000;
    HttpResponse posted;
    const bool postAnswered = SendHttpRequest(post, posted);
    SetAutomaticProxyUnavailableForTests(false);
    RegDeleteValueW(key, L"ProxyEnable");
    RegDeleteValueW(key, L"ProxyServer");
    RegCloseKey(key);
    RegDeleteKeyValueW(HKEY_CURRENT_USER,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                       L"DefaultConnectionSettings");

    CHECK(answered);
    const auto received = ReceivedRequests("t=proxy");
    REQUIRE(received.size() == 1);
    CHECK(received[0].target.find("/api/notify-only?") != std::string::npos);
    CHECK(postAnswered);
    CHECK(posted.status == 200);
    const auto reports = ReceivedRequests("t=proxy-post");
    REQUIRE(reports.size() == 1);
    CHECK(reports[0].method == "POST");
    // The proxy is asked for the absolute URL (Wine names the port in it).
    CHECK_MESSAGE(reports[0].target.rfind("http://tarnell-proxy.invalid", 0) == 0, reports[0].target);
    CHECK(reports[0].target.find("/except.php?") != std::string::npos);
    CHECK(*reports[0].Header("Body-Length") == "30");
}

TEST_CASE("An answer cut off before its end is a failed attempt") {
    // 36 of an announced 5,000 bytes, then the connection closes.
    std::u16string data = u"kept";
    CHECK_FALSE(FetchText(FixtureUrl("/api/truncated?t=truncated"), {}, data));
    CHECK(data == u"kept");
    // A whole answer still counts.
    CHECK(FetchText(FixtureUrl("/api/notify-only?t=whole"), {}, data));
    CHECK(data == u"{\"update\":\"\",\"notify\":\"https://news.tarnell.example/only\"}");
}

TEST_CASE("A request that keeps to its own host follows a 307 there and nowhere else") {
    // The crash report's road: POSTed with sameHostRedirectsOnly. "localhost" is this same fixture by
    // another name, so a followed redirect would land and be logged.
    struct Case {
        const char* what;
        const char* path;
        const char* tag;
        DWORD status;
        size_t landed;  // POSTs that arrived at the redirect's target
    };
    const Case cases[] = {
        {"to another host: not followed, the 307 is the answer", "/api/post-elsewhere", "t=post-elsewhere",
         307, 0},
        {"to another path of the same host: followed with the body", "/api/post-same", "t=post-same", 200, 1},
    };
    for (const auto& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        HttpRequest post;
        post.url = FixtureUrl(std::string(c.path) + "?" + c.tag);
        post.method = L"POST";
        post.body = "=== Tarnell crash report ===\r\n";
        post.timeoutMs = 4000;
        post.sameHostRedirectsOnly = true;
        HttpResponse response;
        REQUIRE(SendHttpRequest(post, response));
        CHECK(response.status == c.status);
        const auto received = ReceivedRequests(c.tag);
        size_t landed = 0;
        for (const auto& r : received) {
            if (r.target.rfind("/api/post-landed?", 0) == 0) {
                ++landed;
                CHECK(*r.Header("Body-Length") == "30");
            }
        }
        CHECK(landed == c.landed);
        REQUIRE_FALSE(received.empty());
        CHECK(received[0].target.rfind(c.path, 0) == 0);
    }
    // Without the rule the same redirect to another host is followed (the service check's road).
    HttpRequest post;
    post.url = FixtureUrl("/api/post-elsewhere?t=post-follow");
    post.method = L"POST";
    post.body = "=== Tarnell crash report ===\r\n";
    post.timeoutMs = 4000;
    HttpResponse response;
    REQUIRE(SendHttpRequest(post, response));
    CHECK(response.status == 200);
    CHECK(ReceivedRequests("t=post-follow").size() == 2);
}
