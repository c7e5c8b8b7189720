// The WMI adapter query's walk, driven through stand-ins for the services object, its query enumerators
// and the adapter and configuration objects, answering as Windows' WMI does (see fake_wbem_win32.h).
#include "tuning/wmi_win32.h"

#include <doctest/doctest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "fake_wbem_win32.h"
#include "tuning/network.h"
#include "tuning/network_win32.h"

using namespace tarnell;
using test::FakeWbemEnumerator;
using test::FakeWbemObject;
using test::FakeWbemServices;
using test::kNeverAnswers;
using test::WbemStep;

namespace {

const wchar_t kAdapterQuery[] =
    L"SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter = True AND NetEnabled = True";
const wchar_t kConfigurationQuery[] = L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index = ";
constexpr HRESULT kInvalidQuery = WBEM_E_INVALID_QUERY;  // 0x80041017
constexpr HRESULT kCallFailed = WBEM_E_FAILED;           // 0x80041001

void Adapter(FakeWbemObject& object, int index, const wchar_t* connection, const wchar_t* name,
             const wchar_t* guid) {
    object.Set(L"Index", index).Set(L"Name", name).Set(L"GUID", guid);
    // An adapter without a connection reports no name for it: null, not an empty text.
    if (connection)
        object.Set(L"NetConnectionID", connection);
    else
        object.SetNull(L"NetConnectionID");
}

}  // namespace

TEST_CASE("the WMI adapter walk: each adapter checked as it comes, the stand-in only when WMI fails") {
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    {
        FakeWbemObject virtualNic, nullIndex, nicOne, nicTwo, unplugged, notIp, noGuid, brokenConfig;
        Adapter(virtualNic, 1, L"vEthernet (Default Switch)", L"Hyper-V Virtual Ethernet Adapter",
                L"{11111111-2222-3333-4444-555555555555}");
        nullIndex.SetNull(L"Index")
            .Set(L"NetConnectionID", L"Ethernet 5")
            .Set(L"Name", L"Removed NIC")
            .Set(L"GUID", L"{55555555-2222-3333-4444-555555555555}");
        Adapter(nicOne, 7, L"Ethernet", L"NIC One", L"{4d36e972-e325-11ce-bfc1-08002be10318}");
        Adapter(nicTwo, 9, nullptr, L"NIC Two", L"{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}");
        Adapter(unplugged, 11, L"Ethernet 2", L"NIC Three", L"{33333333-2222-3333-4444-555555555555}");
        Adapter(notIp, 12, L"Ethernet 3", L"NIC Four", L"{44444444-2222-3333-4444-555555555555}");
        // An object that lacks one of the four identity properties.
        noGuid.Set(L"Index", 13).Set(L"NetConnectionID", L"Ethernet 6").Set(L"Name", L"NIC Six");
        Adapter(brokenConfig, 14, L"Ethernet 4", L"NIC Five", L"{66666666-2222-3333-4444-555555555555}");

        FakeWbemObject configOne, configTwo, configUnplugged, configNotIp;
        configOne.SetBool(L"IPEnabled", true).Set(L"IPAddress", {L"fe80::7", L"192.168.1.7"});
        configTwo.SetBool(L"IPEnabled", true).Set(L"IPAddress", std::vector<std::wstring>{L"10.0.0.9"});
        configUnplugged.SetBool(L"IPEnabled", true).SetNull(L"IPAddress");  // no address: null list
        // Windows lists no address for a configuration that is not IP-enabled; this one has a list all the
        // same, so that only the flag can pass it over.
        configNotIp.SetBool(L"IPEnabled", false).Set(L"IPAddress", std::vector<std::wstring>{L"10.0.0.12"});
        const std::map<std::wstring, FakeWbemObject*> configurationOf = {
            {L"7", &configOne}, {L"9", &configTwo}, {L"11", &configUnplugged}, {L"12", &configNotIp}};

        struct Case {
            const char* what;
            HRESULT execAnswer;  // of the adapter query
            std::vector<WbemStep> steps;
            AdapterSource source;
            std::optional<std::u16string> found;  // display name, for the WMI source
            std::optional<std::u16string> ip;
            int nextCalls;
            std::vector<std::wstring> configurationQueries;  // after the adapter query
        };
        const Case cases[] = {
            {"an error after a qualifying adapter: that adapter, found before the error",
             S_OK,
             {{S_OK, &nicOne}, {kCallFailed}},
             AdapterSource::Wmi,
             u"Ethernet (NIC One)",
             u"192.168.1.7",
             1,
             {L"7"}},
            {"an error after an adapter that does not qualify: WMI answered, no stand-in",
             S_OK,
             {{S_OK, &virtualNic}, {kCallFailed}},
             AdapterSource::Wmi,
             std::nullopt,
             std::nullopt,
             2,
             {}},
            {"two qualifying adapters: the first, and the walk stops there",
             S_OK,
             {{S_OK, &virtualNic}, {S_OK, &nicOne}, {S_OK, &nicTwo}, {WBEM_S_FALSE}},
             AdapterSource::Wmi,
             u"Ethernet (NIC One)",
             u"192.168.1.7",
             2,
             {L"7"}},
            {"an adapter without an index is passed over; a null connection name gives the adapter's name",
             S_OK,
             {{S_OK, &nullIndex}, {S_OK, &nicTwo}, {WBEM_S_FALSE}},
             AdapterSource::Wmi,
             u"NIC Two",
             u"10.0.0.9",
             2,
             {L"9"}},
            {"an adapter without an address, one not IP-enabled and one lacking its GUID are passed over",
             S_OK,
             {{S_OK, &unplugged}, {S_OK, &notIp}, {S_OK, &noGuid}, {S_OK, &nicTwo}, {WBEM_S_FALSE}},
             AdapterSource::Wmi,
             u"NIC Two",
             u"10.0.0.9",
             4,
             {L"11", L"12", L"9"}},
            {"a configuration query that fails: the next adapter",
             S_OK,
             {{S_OK, &brokenConfig}, {S_OK, &nicOne}, {WBEM_S_FALSE}},
             AdapterSource::Wmi,
             u"Ethernet (NIC One)",
             u"192.168.1.7",
             2,
             {L"14", L"7"}},
            {"no adapters: WMI answered, no stand-in",
             S_OK,
             {{WBEM_S_FALSE}},
             AdapterSource::Wmi,
             std::nullopt,
             std::nullopt,
             1,
             {}},
            {"the query fails at its first step: WMI failed",
             S_OK,
             {{kInvalidQuery}},
             AdapterSource::IpHelper,
             std::nullopt,
             std::nullopt,
             1,
             {}},
            {"the query is refused: WMI failed",
             kInvalidQuery,
             {},
             AdapterSource::IpHelper,
             std::nullopt,
             std::nullopt,
             0,
             {}},
        };
        for (const Case& c : cases) {
            INFO(std::string(c.what));
            FakeWbemEnumerator adapterWalk(c.steps);
            std::map<std::wstring, std::unique_ptr<FakeWbemEnumerator>> configurationWalks;
            for (const auto& [index, configuration] : configurationOf)
                configurationWalks[index] = std::make_unique<FakeWbemEnumerator>(
                    std::vector<WbemStep>{{S_OK, configuration}, {WBEM_S_FALSE}});
            FakeWbemServices services;
            services.answer = [&](const std::wstring& query) -> FakeWbemServices::Answer {
                if (query == kAdapterQuery) return {c.execAnswer, &adapterWalk};
                REQUIRE(query.rfind(kConfigurationQuery, 0) == 0);
                auto it = configurationWalks.find(query.substr(std::wcslen(kConfigurationQuery)));
                if (it == configurationWalks.end()) return {kCallFailed, nullptr};
                return {S_OK, it->second.get()};
            };
            services.AddRef();  // the session's own reference

            Discovery discovery;
            {
                WmiSession wmi{ComRef<IWbemServices>(&services)};
                SystemAdapters system(wmi, true);
                discovery = DiscoverActiveAdapter(system);
            }
            CHECK(discovery.source == c.source);
            CHECK(adapterWalk.nextCalls == c.nextCalls);
            REQUIRE_FALSE(services.queries.empty());
            CHECK(services.queries[0] == kAdapterQuery);
            std::vector<std::wstring> configurationQueries;
            for (size_t i = 1; i < services.queries.size(); ++i)
                configurationQueries.push_back(services.queries[i].substr(std::wcslen(kConfigurationQuery)));
            CHECK(configurationQueries == c.configurationQueries);
            if (c.source == AdapterSource::Wmi) {
                REQUIRE(discovery.adapter.has_value() == c.found.has_value());
                if (c.found) {
                    CHECK(discovery.adapter->name == *c.found);
                    CHECK(discovery.adapter->ip == *c.ip);
                }
            }
            // Each object was waited for within the bound, never for ever.
            for (LONG timeout : adapterWalk.timeouts) {
                CHECK(timeout > 0);
                CHECK(timeout <= kDiscoveryWmiBounds.perItem.count());
            }
            // Every reference the walk took was given back.
            CHECK(services.refs() == 1);
            CHECK(adapterWalk.refs() == 1);
            for (const auto& [index, walk] : configurationWalks) CHECK(walk->refs() == 1);
            for (FakeWbemObject* object : {&virtualNic, &nicOne, &nicTwo, &unplugged, &noGuid, &configOne})
                CHECK(object->refs() == 1);
        }
    }
    CoUninitialize();
}

namespace {

// Discovery's view of a machine whose WMI is the stand-in and whose IP Helper API lists one adapter.
class StandInIpHelper final : public AdapterSystem {
  public:
    explicit StandInIpHelper(SystemAdapters& wmi) : wmi_(wmi) {}
    bool WalkWmiAdapters(const std::function<bool(const AdapterRecord&)>& visit) override {
        return wmi_.WalkWmiAdapters(visit);
    }
    std::optional<std::vector<AdapterConfiguration>> WmiConfigurations(
        const AdapterRecord& adapter) override {
        return wmi_.WmiConfigurations(adapter);
    }
    std::vector<IpHelperAdapter> IpHelperAdapters() override {
        IpHelperAdapter nic;
        nic.interfaceIndex = 3;
        nic.interfaceType = 6;  // Ethernet
        nic.operationalUp = true;
        nic.friendlyName = u"Ethernet 9";
        nic.description = u"Helper NIC";
        nic.adapterName = u"{99999999-2222-3333-4444-555555555555}";
        nic.unicastAddresses = {u"fe80::9", u"10.9.9.9"};
        nic.hardwareInterface = true;
        return {nic};
    }

  private:
    SystemAdapters& wmi_;
};

}  // namespace

TEST_CASE("a WMI that does not answer in time: the IP Helper road answers within the bounds") {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    {
        FakeWbemObject virtualNic, nicOne, configOne;
        Adapter(virtualNic, 1, L"vEthernet (Default Switch)", L"Hyper-V Virtual Ethernet Adapter",
                L"{11111111-2222-3333-4444-555555555555}");
        Adapter(nicOne, 7, L"Ethernet", L"NIC One", L"{4d36e972-e325-11ce-bfc1-08002be10318}");
        configOne.SetBool(L"IPEnabled", true).Set(L"IPAddress", std::vector<std::wstring>{L"192.168.1.7"});

        // Short bounds keep the table quick; the last case runs with the program's own.
        constexpr WmiBounds kShort{300ms, 800ms};
        struct Case {
            const char* what;
            WmiBounds bounds;
            std::vector<WbemStep> adapters;
            DWORD configurationDelayMs;  // of the configuration query's only object
            std::u16string found;        // display name
        };
        const Case cases[] = {
            {"the first adapter never comes",
             kShort,
             {{S_OK, &nicOne, kNeverAnswers}},
             0,
             u"Ethernet 9 (Helper NIC)"},
            {"an adapter that does not qualify, then nothing",
             kShort,
             {{S_OK, &virtualNic}, {S_OK, &nicOne, kNeverAnswers}},
             0,
             u"Ethernet 9 (Helper NIC)"},
            {"adapters each in time, all together too late",
             kShort,
             {{S_OK, &virtualNic, 250},
              {S_OK, &virtualNic, 250},
              {S_OK, &virtualNic, 250},
              {S_OK, &virtualNic, 250},
              {S_OK, &nicOne, 250}},
             0,
             u"Ethernet 9 (Helper NIC)"},
            {"the configuration of a qualifying adapter never comes",
             kShort,
             {{S_OK, &nicOne}, {WBEM_S_FALSE}},
             kNeverAnswers,
             u"Ethernet 9 (Helper NIC)"},
            {"a slow WMI within the bounds still answers",
             kShort,
             {{S_OK, &virtualNic, 150}, {S_OK, &nicOne, 150}, {WBEM_S_FALSE}},
             150,
             u"Ethernet (NIC One)"},
            {"the program's own bounds, the first adapter never comes",
             kDiscoveryWmiBounds,
             {{S_OK, &nicOne, kNeverAnswers}},
             0,
             u"Ethernet 9 (Helper NIC)"},
        };
        for (const Case& c : cases) {
            INFO(std::string(c.what));
            FakeWbemEnumerator adapterWalk(c.adapters);
            FakeWbemEnumerator configurationWalk(
                {{S_OK, &configOne, c.configurationDelayMs}, {WBEM_S_FALSE}});
            FakeWbemServices services;
            services.answer = [&](const std::wstring& query) -> FakeWbemServices::Answer {
                if (query == kAdapterQuery) return {S_OK, &adapterWalk};
                return {S_OK, &configurationWalk};
            };
            services.AddRef();  // the session's own reference

            Discovery discovery;
            const auto started = Clock::now();
            {
                WmiSession wmi{ComRef<IWbemServices>(&services), c.bounds};
                SystemAdapters wmiSide(wmi, true);
                StandInIpHelper system(wmiSide);
                discovery = DiscoverActiveAdapter(system);
            }
            const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
            MESSAGE(std::string(c.what)
                    << ": " << tookMs.count() << " ms (bounds " << c.bounds.perItem.count()
                    << " ms per item, " << c.bounds.overall.count() << " ms in all)");
            const bool fromWmi = c.found == u"Ethernet (NIC One)";
            CHECK(discovery.source == (fromWmi ? AdapterSource::Wmi : AdapterSource::IpHelper));
            CHECK(discovery.adapter.has_value());
            if (discovery.adapter) {
                CHECK(discovery.adapter->name == c.found);
                CHECK(discovery.adapter->ip == (fromWmi ? u"192.168.1.7" : u"10.9.9.9"));
            }
            // Within the overall bound, with a generous allowance for a busy machine.
            CHECK(tookMs < c.bounds.overall + 3s);
            for (const FakeWbemEnumerator* walk : {&adapterWalk, &configurationWalk}) {
                for (LONG timeout : walk->timeouts) {
                    CHECK(timeout > 0);
                    CHECK(timeout <= c.bounds.perItem.count());
                }
            }
            CHECK(services.refs() == 1);
            CHECK(adapterWalk.refs() == 1);
            CHECK(configurationWalk.refs() == 1);
        }
    }
    CoUninitialize();
}
