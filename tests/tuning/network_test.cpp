// Adapter selection over adapter records, the IP Helper mapping, and GUID text handling.
#include "tuning/network.h"

#include <doctest/doctest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"

using namespace tarnell;

namespace {

using Addresses = std::vector<std::u16string>;

AdapterRecord Adapter(std::u16string index, std::u16string connection, std::u16string name,
                      std::u16string guid) {
    AdapterRecord a;
    a.index = std::move(index);
    a.connectionId = std::move(connection);
    a.name = std::move(name);
    a.guid = std::move(guid);
    return a;
}

AdapterConfiguration Config(bool ipEnabled, std::optional<Addresses> addresses) {
    return AdapterConfiguration{ipEnabled, std::move(addresses)};
}

// Configurations by adapter index; an index missing from the map stands for a failed query.
struct FakeConfigurations {
    std::map<std::u16string, std::vector<AdapterConfiguration>> byIndex;
    std::vector<std::u16string> asked;
    ConfigurationQuery Query() {
        return [this](const AdapterRecord& a) -> std::optional<std::vector<AdapterConfiguration>> {
            asked.push_back(*a.index);
            auto it = byIndex.find(*a.index);
            if (it == byIndex.end()) return std::nullopt;
            return it->second;
        };
    }
};

const std::u16string kGuidA = u"{11111111-2222-3333-4444-555555555555}";
const std::u16string kGuidB = u"{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}";

}  // namespace

TEST_CASE("display name: connection (adapter), or the adapter alone") {
    CHECK(AdapterDisplayName(Adapter(u"1", u"Ethernet", u"Example NIC", kGuidA)) ==
          u"Ethernet (Example NIC)");
    CHECK(AdapterDisplayName(Adapter(u"1", u"", u"Example NIC", kGuidA)) == u"Example NIC");
}

TEST_CASE("exclusion words match anywhere in the display name, in any letter case") {
    struct Case {
        std::u16string name;
        bool excluded;
    };
    const Case cases[] = {
        {u"Ethernet (Intel(R) Ethernet Connection I219-V)", false},
        {u"Wi-Fi (Realtek 8822CE Wireless LAN)", false},
        {u"VMware Network Adapter VMnet8", true},
        {u"Ethernet 2 (VirtualBox Host-Only Ethernet Adapter)", true},
        {u"vEthernet (Hyper-V VIRTUAL Ethernet Adapter)", true},
        {u"Internet Connection Sharing", true},
        {u"my virtual link (Realtek PCIe GbE Family Controller)", true},  // the connection name counts too
        {u"Virtu al Ethernet", false},
        {u"VMWAR", false},
        {u"", false},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.name));
        CHECK(IsExcludedAdapterName(c.name) == c.excluded);
    }
}

TEST_CASE("address choice: first IPv4 entry, else entry 0, empty list gives an empty address") {
    struct Case {
        const char* what;
        AdapterConfiguration config;
        std::optional<std::u16string> expected;
    };
    const Case cases[] = {
        {"link-local IPv6 first, then IPv4",
         Config(true, Addresses{u"fe80::1c2d:3e4f:5a6b:7c8d", u"192.168.1.20"}), u"192.168.1.20"},
        {"IPv6 only", Config(true, Addresses{u"fd00::2", u"fe80::1"}), u"fd00::2"},
        {"two IPv4: the first", Config(true, Addresses{u"10.0.0.5", u"192.168.0.7"}), u"10.0.0.5"},
        {"IPv6, IPv4, IPv6", Config(true, Addresses{u"fd00::2", u"192.0.2.2", u"fe80::2"}), u"192.0.2.2"},
        {"empty list", Config(true, Addresses{}), u""},
        {"not IP-enabled", Config(false, Addresses{u"192.168.1.20"}), std::nullopt},
        {"no address list", Config(true, std::nullopt), std::nullopt},
    };
    for (const Case& c : cases) {
        INFO(c.what);
        CHECK(ChooseAddress(c.config) == c.expected);
    }
}

TEST_CASE("selection: first qualifying adapter in query order") {
    FakeConfigurations configs;
    configs.byIndex[u"1"] = {Config(true, Addresses{u"fe80::1", u"192.168.1.20"})};
    configs.byIndex[u"2"] = {Config(true, Addresses{u"10.0.0.9"})};

    SUBCASE("two qualifying adapters: the first wins") {
        auto found = SelectActiveAdapter({Adapter(u"1", u"Ethernet", u"NIC One", kGuidA),
                                          Adapter(u"2", u"Ethernet 2", u"NIC Two", kGuidB)},
                                         configs.Query());
        REQUIRE(found);
        CHECK(found->name == u"Ethernet (NIC One)");
        CHECK(found->guid == kGuidA);
        CHECK(found->ip == u"192.168.1.20");
        CHECK(configs.asked == std::vector<std::u16string>{u"1"});
    }
    SUBCASE("the GUID is returned in the letter case the system reports") {
        auto found = SelectActiveAdapter({Adapter(u"2", u"", u"NIC Two", kGuidB)}, configs.Query());
        REQUIRE(found);
        CHECK(found->guid == kGuidB);
        CHECK(found->name == u"NIC Two");
    }
}

TEST_CASE("selection: adapters passed over, and the next one tried") {
    const AdapterRecord good = Adapter(u"9", u"Ethernet", u"Good NIC", kGuidB);
    AdapterRecord nullIndex = Adapter(u"1", u"Ethernet", u"NIC", kGuidA);
    nullIndex.index.reset();
    AdapterRecord unreadable = Adapter(u"1", u"Ethernet", u"NIC", kGuidA);
    unreadable.identityRead = false;

    struct Case {
        const char* what;
        AdapterRecord first;
        std::vector<AdapterConfiguration> firstConfigs;
        bool configsAsked;
    };
    const std::vector<AdapterConfiguration> usable = {Config(true, Addresses{u"192.168.1.2"})};
    const Case cases[] = {
        {"index is null", nullIndex, usable, false},
        {"identity properties unreadable", unreadable, usable, false},
        {"empty name", Adapter(u"1", u"Ethernet", u"", kGuidA), usable, false},
        {"empty GUID", Adapter(u"1", u"Ethernet", u"NIC", u""), usable, false},
        {"virtual switch", Adapter(u"1", u"vEthernet", u"Hyper-V Virtual Ethernet Adapter", kGuidA), usable,
         false},
        {"shared adapter", Adapter(u"1", u"", u"Internet SHARING Adapter", kGuidA), usable, false},
        {"not IP-enabled",
         Adapter(u"1", u"Ethernet", u"NIC", kGuidA),
         {Config(false, Addresses{u"192.168.1.2"})},
         true},
        {"address list null", Adapter(u"1", u"Ethernet", u"NIC", kGuidA), {Config(true, std::nullopt)}, true},
        {"no configuration", Adapter(u"1", u"Ethernet", u"NIC", kGuidA), {}, true},
    };
    for (const Case& c : cases) {
        INFO(c.what);
        FakeConfigurations configs;
        configs.byIndex[u"1"] = c.firstConfigs;
        configs.byIndex[u"9"] = {Config(true, Addresses{u"10.1.1.1"})};
        auto found = SelectActiveAdapter({c.first, good}, configs.Query());
        REQUIRE(found);
        CHECK(found->guid == kGuidB);
        CHECK(found->ip == u"10.1.1.1");
        CHECK((configs.asked.front() == u"1") == c.configsAsked);

        auto alone = SelectActiveAdapter({c.first}, configs.Query());
        CHECK_FALSE(alone);
    }
}

TEST_CASE("selection: a configuration query that fails moves on to the next adapter") {
    FakeConfigurations configs;  // index 1 missing: its query fails
    configs.byIndex[u"2"] = {Config(true, Addresses{u"172.16.0.3"})};
    auto found = SelectActiveAdapter(
        {Adapter(u"1", u"Ethernet", u"NIC One", kGuidA), Adapter(u"2", u"Ethernet 2", u"NIC Two", kGuidB)},
        configs.Query());
    REQUIRE(found);
    CHECK(found->guid == kGuidB);
    CHECK(configs.asked == std::vector<std::u16string>{u"1", u"2"});

    CHECK_FALSE(SelectActiveAdapter({Adapter(u"1", u"Ethernet", u"NIC One", kGuidA)}, configs.Query()));
}

TEST_CASE("selection: later configurations of the same adapter, and an empty address list") {
    FakeConfigurations configs;
    configs.byIndex[u"1"] = {Config(false, Addresses{u"1.1.1.1"}), Config(true, std::nullopt),
                             Config(true, Addresses{u"fe80::5"})};
    configs.byIndex[u"2"] = {Config(true, Addresses{})};
    auto first = SelectActiveAdapter({Adapter(u"1", u"Ethernet", u"NIC One", kGuidA)}, configs.Query());
    REQUIRE(first);
    CHECK(first->ip == u"fe80::5");

    auto empty = SelectActiveAdapter({Adapter(u"2", u"Ethernet", u"NIC Two", kGuidB)}, configs.Query());
    REQUIRE(empty);
    CHECK(empty->guid == kGuidB);
    CHECK(empty->ip.empty());
}

TEST_CASE("no adapters, or only virtual ones: nothing found") {
    FakeConfigurations configs;
    configs.byIndex[u"1"] = {Config(true, Addresses{u"192.168.56.1"})};
    CHECK_FALSE(SelectActiveAdapter(std::vector<AdapterRecord>{}, configs.Query()));
    CHECK_FALSE(SelectActiveAdapter({Adapter(u"1", u"", u"VirtualBox Host-Only Ethernet Adapter", kGuidA)},
                                    configs.Query()));
    CHECK(configs.asked.empty());
}

TEST_CASE("IP Helper adapters: hardware Ethernet and Wi-Fi interfaces that are up; the same rules choose") {
    constexpr bool kHardware = true, kSoftware = false;
    const std::vector<IpHelperAdapter> machine = {
        {1,
         24,
         true,
         u"lo",
         u"Loopback",
         u"{00000001-0000-0000-0000-4E6574446576}",
         {u"127.0.0.1", u"::1"},
         kSoftware},
        {2,
         kIfTypeEthernet,
         false,
         u"Ethernet 3",
         u"Unplugged NIC",
         u"{00000002-0000-0000-0000-000000000002}",
         {u"169.254.3.3"},
         kHardware},
        {3,
         131,
         true,
         u"Tunnel",
         u"Teredo",
         u"{00000003-0000-0000-0000-000000000003}",
         {u"2001::1"},
         kSoftware},
        // A VPN client's adapter: Ethernet, up, addressed, no exclusion word, but no device behind it.
        {7,
         kIfTypeEthernet,
         true,
         u"Ethernet 2",
         u"TAP-Windows Adapter V9",
         u"{00000007-0000-0000-0000-000000000007}",
         {u"10.8.0.6"},
         kSoftware},
        {8,
         kIfTypeWifi,
         true,
         u"Local Area Connection* 1",
         u"Wi-Fi Direct Adapter",
         u"{00000008-0000-0000-0000-000000000008}",
         {u"192.168.137.1"},
         kSoftware},
        {4,
         kIfTypeEthernet,
         true,
         u"vEthernet (WSL)",
         u"Hyper-V Virtual Ethernet Adapter",
         u"{00000004-0000-0000-0000-000000000004}",
         {u"172.20.0.1"},
         kHardware},
        {5,
         kIfTypeWifi,
         true,
         u"Wi-Fi",
         u"Dormant radio",
         u"{00000005-0000-0000-0000-000000000005}",
         {},
         kHardware},
        {6,
         kIfTypeEthernet,
         true,
         u"eth0",
         u"Wine Ethernet",
         u"{00000006-0000-0000-0000-4E6574446576}",
         {u"fd00::2", u"fe80::1", u"192.0.2.2"},
         kHardware},
    };
    const std::vector<AdapterEntry> entries = AdaptersFromIpHelper(machine);
    std::vector<std::u16string> kept;
    for (const AdapterEntry& e : entries) kept.push_back(*e.adapter.index);
    CHECK(kept == std::vector<std::u16string>{u"4", u"5", u"6"});
    REQUIRE(entries.size() == 3);
    CHECK(entries[1].adapter.connectionId == u"Wi-Fi");
    CHECK(entries[1].adapter.name == u"Dormant radio");
    REQUIRE(entries[1].configurations.size() == 1);
    CHECK_FALSE(entries[1].configurations[0].ipEnabled);
    REQUIRE(entries[2].configurations.size() == 1);
    CHECK(entries[2].configurations[0].ipEnabled);

    // The virtual switch, though it reports hardware, still falls to the exclusion words.
    auto found = SelectActiveAdapter(entries);
    REQUIRE(found);
    CHECK(found->name == u"eth0 (Wine Ethernet)");
    CHECK(found->guid == u"{00000006-0000-0000-0000-4E6574446576}");
    CHECK(found->ip == u"192.0.2.2");
}

namespace {

// The system as discovery sees it: WMI failing or answering with its adapters, and an IP Helper list.
struct FakeAdapterSystem final : AdapterSystem {
    bool wmiFails = false;
    std::vector<AdapterRecord> wmiAdapters;
    std::map<std::u16string, std::vector<AdapterConfiguration>> configurations;
    std::vector<IpHelperAdapter> ipHelper;
    std::vector<std::u16string> visited;  // adapter indexes handed to discovery, in order
    bool ipHelperAsked = false;

    bool WalkWmiAdapters(const std::function<bool(const AdapterRecord&)>& visit) override {
        if (wmiFails) return false;
        for (const AdapterRecord& adapter : wmiAdapters) {
            visited.push_back(*adapter.index);
            if (!visit(adapter)) break;
        }
        return true;
    }
    std::optional<std::vector<AdapterConfiguration>> WmiConfigurations(
        const AdapterRecord& adapter) override {
        auto it = configurations.find(*adapter.index);
        if (it == configurations.end()) return std::nullopt;
        return it->second;
    }
    std::vector<IpHelperAdapter> IpHelperAdapters() override {
        ipHelperAsked = true;
        return ipHelper;
    }
};

}  // namespace

TEST_CASE("discovery's sources: WMI while it answers, the IP Helper list only when WMI fails") {
    const IpHelperAdapter wineEthernet = {2,
                                          kIfTypeEthernet,
                                          true,
                                          u"eth0",
                                          u"Wine Ethernet",
                                          u"{00000004-0000-0000-0000-4E6574446576}",
                                          {u"fd00::2", u"192.0.2.2"},
                                          true};
    const AdapterRecord virtualNic = Adapter(u"1", u"vEthernet", u"Hyper-V Virtual Ethernet Adapter", kGuidA);
    const AdapterRecord nicOne = Adapter(u"7", u"Ethernet", u"NIC One", kGuidA);
    const AdapterRecord nicTwo = Adapter(u"9", u"Ethernet 2", u"NIC Two", kGuidB);
    struct Case {
        const char* what;
        bool wmiFails;
        std::vector<AdapterRecord> wmi;
        AdapterSource source;
        std::optional<std::u16string> found;  // display name
        std::vector<std::u16string> visited;
    };
    const Case cases[] = {
        {"WMI fails: the IP Helper list stands in",
         true,
         {},
         AdapterSource::IpHelper,
         u"eth0 (Wine Ethernet)",
         {}},
        {"WMI answers with adapters: the first that qualifies, and the walk stops there",
         false,
         {virtualNic, nicOne, nicTwo},
         AdapterSource::Wmi,
         u"Ethernet (NIC One)",
         {u"1", u"7"}},
        {"WMI answers with none: nothing, and no stand-in", false, {}, AdapterSource::Wmi, std::nullopt, {}},
        {"WMI answers only with adapters that do not qualify: nothing, and no stand-in",
         false,
         {virtualNic},
         AdapterSource::Wmi,
         std::nullopt,
         {u"1"}},
    };
    for (const Case& c : cases) {
        INFO(c.what);
        FakeAdapterSystem system;
        system.wmiFails = c.wmiFails;
        system.wmiAdapters = c.wmi;
        system.configurations[u"1"] = {Config(true, Addresses{u"172.20.0.1"})};
        system.configurations[u"7"] = {Config(true, Addresses{u"fe80::7", u"192.168.1.7"})};
        system.configurations[u"9"] = {Config(true, Addresses{u"192.168.1.9"})};
        system.ipHelper = {wineEthernet};

        const Discovery discovery = DiscoverActiveAdapter(system);
        CHECK(discovery.source == c.source);
        CHECK(system.ipHelperAsked == (c.source == AdapterSource::IpHelper));
        CHECK(system.visited == c.visited);
        REQUIRE(discovery.adapter.has_value() == c.found.has_value());
        if (c.found) CHECK(discovery.adapter->name == *c.found);
    }
}

TEST_CASE("FormatGuid: braced, upper-case, Data1-3 little-endian in memory") {
    struct Case {
        std::array<uint8_t, 16> bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {{0xA2, 0x56, 0x89, 0xC0, 0xD3, 0x1C, 0xD1, 0x11, 0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E},
         u"{C08956A2-1CD3-11D1-B1C5-00805FC1270E}"},
        {{}, u"{00000000-0000-0000-0000-000000000000}"},
        {{0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0x65, 0x74, 0x44, 0x65, 0x76},
         u"{00000004-0000-0000-0000-4E6574446576}"},
        {{0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10},
         u"{89ABCDEF-4567-0123-FEDC-BA9876543210}"},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.text));
        CHECK(FormatGuid(c.bytes) == c.text);
    }
}

TEST_CASE("GUID texts match without regard to letter case; an empty GUID matches nothing") {
    const std::u16string formatted = u"{C08956A2-1CD3-11D1-B1C5-00805FC1270E}";
    struct Case {
        std::u16string given;
        bool match;
    };
    const Case cases[] = {
        {u"{C08956A2-1CD3-11D1-B1C5-00805FC1270E}", true},
        {u"{c08956a2-1cd3-11d1-b1c5-00805fc1270e}", true},
        {u"{C08956a2-1Cd3-11D1-b1C5-00805Fc1270E}", true},
        {u"", false},
        {u"C08956A2-1CD3-11D1-B1C5-00805FC1270E", false},
        {u"{C08956A2-1CD3-11D1-B1C5-00805FC1270F}", false},
        {u"{C08956A2-1CD3-11D1-B1C5-00805FC1270E} ", false},
    };
    for (const Case& c : cases) {
        INFO(Utf16ToUtf8(c.given));
        CHECK(GuidTextEquals(formatted, c.given) == c.match);
        CHECK(GuidTextEquals(c.given, formatted) == c.match);
    }
    CHECK_FALSE(GuidTextEquals(u"", u""));
}
