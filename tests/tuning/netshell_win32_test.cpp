// The walk over netshell's connections, driven by stand-ins for the connection manager, its enumerator,
// the connections and the free function, answering as Windows does. (Wine has no netshell.)
#include "tuning/netshell_win32.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {

// What the walk did, in order: "enum", "next", "props N", "connect N", "disconnect N", "free N".
std::vector<std::string>* g_calls = nullptr;
int g_recordsOut = 0;  // records handed out by GetProperties and not yet freed

struct Properties : NetConProperties {
    int owner;
};

void WINAPI FakeFree(NetConProperties* record) {
    g_calls->push_back("free " + std::to_string(static_cast<Properties*>(record)->owner));
    --g_recordsOut;
    delete static_cast<Properties*>(record);
}

// A COM object counting its references; the test holds one of its own.
template <typename Interface>
class Counted : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    ULONG refs() const { return refs_; }

  private:
    ULONG refs_ = 1;
};

struct Connection final : Counted<NetConnection> {
    int id = 0;
    GUID guid{};
    HRESULT properties = S_OK;  // GetProperties' answer
    HRESULT request = S_OK;     // Connect's and Disconnect's answer

    HRESULT STDMETHODCALLTYPE Connect() override {
        g_calls->push_back("connect " + std::to_string(id));
        return request;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        g_calls->push_back("disconnect " + std::to_string(id));
        return request;
    }
    HRESULT STDMETHODCALLTYPE Delete() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Duplicate(LPCWSTR, NetConnection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperties(NetConProperties** out) override {
        g_calls->push_back("props " + std::to_string(id));
        *out = nullptr;
        if (properties != S_OK) return properties;
        auto* record = new Properties{};
        record->guidId = guid;
        record->owner = id;
        ++g_recordsOut;
        *out = record;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUiObjectClassId(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Rename(LPCWSTR) override { return E_NOTIMPL; }
};

struct Enumerator final : Counted<EnumNetConnection> {
    std::vector<Connection>* items = nullptr;
    size_t position = 0;
    HRESULT end = S_FALSE;  // what Next answers once the connections are exhausted

    HRESULT STDMETHODCALLTYPE Next(ULONG count, NetConnection** out, ULONG* fetched) override {
        g_calls->push_back("next");
        REQUIRE(count == 1);
        *out = nullptr;
        *fetched = 0;
        if (position == items->size()) return end;
        Connection& c = (*items)[position++];
        c.AddRef();
        *out = &c;
        *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(EnumNetConnection**) override { return E_NOTIMPL; }
};

struct Manager final : Counted<NetConnectionManager> {
    Enumerator* enumerator = nullptr;
    HRESULT answer = S_OK;
    int flags = -1;

    HRESULT STDMETHODCALLTYPE EnumConnections(int f, EnumNetConnection** out) override {
        g_calls->push_back("enum");
        flags = f;
        *out = nullptr;
        if (answer != S_OK) return answer;
        enumerator->AddRef();
        *out = enumerator;
        return S_OK;
    }
};

// {4D36E972-E325-11CE-BFC1-08002BE10318} and {00000004-0000-0000-0000-4E6574446576}
constexpr GUID kGuidA = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kGuidB = {0x00000004, 0x0000, 0x0000, {0x00, 0x00, 0x4E, 0x65, 0x74, 0x44, 0x65, 0x76}};
const std::u16string kTextA = u"{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::u16string kTextALower = u"{4d36e972-e325-11ce-bfc1-08002be10318}";
const std::u16string kTextBLower = u"{00000004-0000-0000-0000-4e6574446576}";

struct ConnectionRow {
    GUID guid;
    HRESULT properties = S_OK;
    HRESULT request = S_OK;
};

struct Case {
    const char* what;
    std::u16string guid;
    bool enable;
    std::vector<ConnectionRow> connections;
    HRESULT enumAnswer;
    HRESULT nextAtEnd;
    bool result;
    std::vector<std::string> calls;
};

}  // namespace

TEST_CASE("connection cycling: calls made, result and records freed, for the answers Windows gives") {
    const HRESULT kUnplugged = HRESULT_FROM_WIN32(ERROR_NOT_CONNECTED);
    const Case cases[] = {
        {"upper-case GUID matches the second connection: connect, free, stop",
         kTextA,
         true,
         {{kGuidB}, {kGuidA}, {kGuidB}},
         S_OK,
         S_FALSE,
         true,
         {"enum", "next", "props 0", "free 0", "next", "props 1", "connect 1", "free 1"}},
        {"lower-case GUID, disable: disconnect",
         kTextALower,
         false,
         {{kGuidA}},
         S_OK,
         S_FALSE,
         true,
         {"enum", "next", "props 0", "disconnect 0", "free 0"}},
        {"a system GUID with letters, given in lower case",
         kTextBLower,
         true,
         {{kGuidA}, {kGuidB}},
         S_OK,
         S_FALSE,
         true,
         {"enum", "next", "props 0", "free 0", "next", "props 1", "connect 1", "free 1"}},
        {"the request fails: false, the record is still freed and the walk stops",
         kTextA,
         false,
         {{kGuidA, S_OK, kUnplugged}, {kGuidA}},
         S_OK,
         S_FALSE,
         false,
         {"enum", "next", "props 0", "disconnect 0", "free 0"}},
        {"two connections with the GUID: only the first is asked",
         kTextA,
         true,
         {{kGuidA}, {kGuidA}},
         S_OK,
         S_FALSE,
         true,
         {"enum", "next", "props 0", "connect 0", "free 0"}},
        {"properties that fail are skipped, with nothing to free",
         kTextA,
         true,
         {{kGuidA, E_ACCESSDENIED}, {kGuidA}},
         S_OK,
         S_FALSE,
         true,
         {"enum", "next", "props 0", "next", "props 1", "connect 1", "free 1"}},
        {"no connection matches: every record freed, false",
         kTextA,
         true,
         {{kGuidB}, {kGuidB}},
         S_OK,
         S_FALSE,
         false,
         {"enum", "next", "props 0", "free 0", "next", "props 1", "free 1", "next"}},
        {"an empty GUID matches nothing",
         u"",
         true,
         {{kGuidA}},
         S_OK,
         S_FALSE,
         false,
         {"enum", "next", "props 0", "free 0", "next"}},
        {"no connections at all", kTextA, true, {}, S_OK, S_FALSE, false, {"enum", "next"}},
        {"the enumeration fails", kTextA, true, {{kGuidA}}, E_FAIL, S_FALSE, false, {"enum"}},
        {"the enumerator fails instead of ending: the walk ends",
         kTextA,
         true,
         {{kGuidB}},
         S_OK,
         E_FAIL,
         false,
         {"enum", "next", "props 0", "free 0", "next"}},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.what));
        std::vector<std::string> calls;
        g_calls = &calls;
        g_recordsOut = 0;
        std::vector<Connection> connections(c.connections.size());
        for (size_t i = 0; i < connections.size(); ++i) {
            connections[i].id = static_cast<int>(i);
            connections[i].guid = c.connections[i].guid;
            connections[i].properties = c.connections[i].properties;
            connections[i].request = c.connections[i].request;
        }
        Enumerator enumerator;
        enumerator.items = &connections;
        enumerator.end = c.nextAtEnd;
        Manager manager;
        manager.enumerator = &enumerator;
        manager.answer = c.enumAnswer;

        CHECK(CycleConnection(manager, FakeFree, c.guid, c.enable) == c.result);
        CHECK(calls == c.calls);
        CHECK(manager.flags == 0);
        CHECK(g_recordsOut == 0);
        // Every reference the walk took was given back.
        CHECK(manager.refs() == 1);
        CHECK(enumerator.refs() == 1);
        for (const Connection& connection : connections) CHECK(connection.refs() == 1);
        g_calls = nullptr;
    }
}
