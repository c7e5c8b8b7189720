// Adapter discovery and connection cycling on the machine the tests run on (Wine in the test lane).
#include "tuning/network_win32.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "base/text.h"
#include "tuning/network.h"
#include "tuning/wmi_win32.h"

using namespace tarnell;

namespace {

bool IsBracedGuid(const std::u16string& text) {
    static const std::regex pattern(
        R"(\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\})");
    return std::regex_match(Utf16ToUtf8(text), pattern);
}

bool IsIpv4(const std::u16string& text) {
    static const std::regex pattern(R"((25[0-5]|2[0-4]\d|1?\d?\d)(\.(25[0-5]|2[0-4]\d|1?\d?\d)){3})");
    return std::regex_match(Utf16ToUtf8(text), pattern);
}

}  // namespace

TEST_CASE("discovery returns the machine's adapter: display name, braced GUID, IPv4 address") {
    std::u16string name = u"stale", guid = u"stale", ip = u"stale";
    REQUIRE(GetActiveAdapter(name, guid, ip));
    INFO(Utf16ToUtf8(name) << " " << Utf16ToUtf8(guid) << " " << Utf16ToUtf8(ip));
    CHECK_FALSE(name.empty());
    CHECK_FALSE(IsExcludedAdapterName(name));
    CHECK(IsBracedGuid(guid));
    CHECK(IsIpv4(ip));

    // The same adapter as the system's own adapter list holds, with that address among its addresses.
    const std::vector<IpHelperAdapter> system = ReadIpHelperAdapters();
    auto it = std::find_if(system.begin(), system.end(),
                           [&](const IpHelperAdapter& a) { return GuidTextEquals(a.adapterName, guid); });
    REQUIRE(it != system.end());
    CHECK(it->operationalUp);
    CHECK((it->interfaceType == kIfTypeEthernet || it->interfaceType == kIfTypeWifi));
    CHECK(it->hardwareInterface);  // Wine reports its Ethernet interfaces as hardware
    CHECK(std::count(it->unicastAddresses.begin(), it->unicastAddresses.end(), ip) == 1);
}

TEST_CASE("discovery leaves the caller's COM initialisation as it was") {
    // A thread in the multithreaded apartment: discovery's own CoInitialize is refused there, and
    // discovery must not uninitialise what the caller set up.
    REQUIRE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    std::u16string name, guid, ip;
    CHECK(GetActiveAdapter(name, guid, ip));
    CHECK(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_FALSE);  // still initialised: S_FALSE, not S_OK
    CoUninitialize();
    CoUninitialize();

    // And in a thread without COM, discovery initialises and uninitialises it itself.
    CHECK(GetActiveAdapter(name, guid, ip));
    CHECK(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK);
    CoUninitialize();
}

TEST_CASE("WMI configuration query reads IPEnabled and the IPAddress list of the discovered adapter") {
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));

    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    {
        WmiSession wmi;
        REQUIRE(wmi.Connect());
        // The indexes first: Wine's objects of a class read stale values once another query of that class
        // has run.
        std::vector<std::u16string> indexes;
        {
            auto all = wmi.Query(u"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True");
            REQUIRE(all);
            for (const ComRef<IWbemClassObject>& object : *all) {
                VARIANT index;
                VariantInit(&index);
                REQUIRE(GetWmiProperty(object.get(), L"Index", &index));
                REQUIRE(SUCCEEDED(VariantChangeType(&index, &index, 0, VT_I4)));
                indexes.push_back(FromAscii(std::to_string(index.lVal)));
                VariantClear(&index);
            }
        }
        bool seen = false;
        for (const std::u16string& indexText : indexes) {
            INFO("Index = " << Utf16ToUtf8(indexText));
            auto configurations = wmi.QueryConfigurations(indexText);
            REQUIRE(configurations);
            REQUIRE(configurations->size() == 1);
            const AdapterConfiguration& c = configurations->front();
            CHECK(c.ipEnabled);
            // Interfaces without an address report a null list; the adapter found has its address here.
            if (c.addresses && std::count(c.addresses->begin(), c.addresses->end(), ip) == 1) {
                seen = true;
                CHECK(ChooseAddress(c) == ip);
            }
        }
        CHECK(seen);

        // A query naming a property the class lacks fails (on Wine the adapter query itself does so).
        CHECK_FALSE(wmi.Query(u"SELECT * FROM Win32_NetworkAdapter WHERE NoSuchProperty = True"));
    }
    CoUninitialize();
}

TEST_CASE("connection cycling without netshell answers false") {
    HMODULE netshell = LoadLibraryW(L"netshell.dll");
    if (netshell) {
        FreeLibrary(netshell);
        MESSAGE("netshell.dll is present here; this case only runs where it is missing (Wine)");
        return;
    }
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    std::u16string name, guid, ip;
    REQUIRE(GetActiveAdapter(name, guid, ip));
    CHECK_FALSE(EnableConnection(guid, false));
    CHECK_FALSE(EnableConnection(guid, true));
    CHECK_FALSE(EnableConnection(u"", true));
    // Nothing to cycle with: not a refusal.
    CHECK(ChangeConnection(guid, false) == ConnectionChange::Unavailable);
    CoUninitialize();
}
