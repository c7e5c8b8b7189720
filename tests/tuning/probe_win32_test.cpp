// The connectivity probe against the loopback fixture server (probe_server.py).
#include <doctest/doctest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "base/text.h"
#include "tuning/network_win32.h"

using namespace tarnell;

namespace {

// Ports from the fixture's state file: "port N" (the server) and "closed N" (bound, not listening).
std::map<std::string, int> FixturePorts() {
    const char* state = std::getenv("TARNELL_PROBE_STATE");
    REQUIRE_MESSAGE(state != nullptr, "TARNELL_PROBE_STATE is set by the test harness");
    std::string path = state;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // the host's root is drive Z: under Wine
    std::ifstream in(path);
    REQUIRE_MESSAGE(in.good(), "fixture state file " << path);
    std::map<std::string, int> ports;
    std::string key;
    int value = 0;
    while (in >> key >> value) ports[key] = value;
    REQUIRE(ports.count("port") == 1);
    REQUIRE(ports.count("closed") == 1);
    return ports;
}

std::u16string Url(int port, const char* path) {
    return FromAscii("http://127.0.0.1:" + std::to_string(port) + path);
}

struct Timed {
    bool result;
    double seconds;
};

Timed Probe(const std::u16string& url) {
    const auto start = std::chrono::steady_clock::now();
    const bool result = CheckConnectivity(url);
    return {result, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

}  // namespace

TEST_CASE("any HTTP answer counts as connectivity") {
    const auto ports = FixturePorts();
    for (const char* path : {"/status/204", "/status/404", "/status/500"}) {
        INFO(path);
        const Timed t = Probe(Url(ports.at("port"), path));
        CHECK(t.result);
        CHECK(t.seconds < 2.0);
    }
}

TEST_CASE("a port where nothing listens fails fast") {
    const auto ports = FixturePorts();
    const Timed t = Probe(Url(ports.at("closed"), "/generate_204"));
    CHECK_FALSE(t.result);
    CHECK(t.seconds < 2.0);
}

TEST_CASE(
    "failures that end without an answer: TLS against a plain HTTP server, a name that cannot resolve") {
    const auto ports = FixturePorts();
    struct Case {
        std::u16string url;
        double boundSeconds;
    };
    const Case cases[] = {
        // The server answers the TLS greeting with an HTTP error page, which is no TLS: at once.
        {FromAscii("https://127.0.0.1:" + std::to_string(ports.at("port")) + "/status/204"), 2.0},
        // ".invalid" is reserved never to resolve. How soon the host's resolver says so is its own affair:
        // only the probe's time-outs bound it.
        {u"https://probe.invalid/generate_204", 7.0},
        {u"http://probe.invalid/generate_204", 7.0},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.url));
        const Timed t = Probe(c.url);
        MESSAGE(Utf16ToUtf8(c.url) << " failed after " << t.seconds << " s");
        CHECK_FALSE(t.result);
        CHECK(t.seconds < c.boundSeconds);
    }
}

TEST_CASE("a server that accepts and never answers fails within the time-outs") {
    const auto ports = FixturePorts();
    const Timed t = Probe(Url(ports.at("port"), "/silent"));
    CHECK_FALSE(t.result);
    CHECK(t.seconds > 2.5);  // it did wait for the answer
    CHECK(t.seconds < 7.0);
}

TEST_CASE("a URL that cannot be parsed is a failure, not an error") {
    CHECK_FALSE(CheckConnectivity(u"not a url"));
    CHECK_FALSE(CheckConnectivity(u""));
}
