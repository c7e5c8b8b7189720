// Adapter discovery rules and GUID text handling, independent of where the adapter records come from
// (WMI on a healthy Windows machine, the IP Helper API where WMI cannot answer).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell {

// One network adapter as the adapter query lists it (physical and enabled adapters only).
struct AdapterRecord {
    std::optional<std::u16string> index;  // decimal text; nullopt when the system reports no index
    bool identityRead = true;             // false: one of index, connection name, name or GUID was unreadable
    std::u16string connectionId;          // the connection's name, may be empty
    std::u16string name;                  // the adapter's name
    std::u16string guid;                  // braced interface GUID text, letter case as the system reports it
};

// One IP configuration of an adapter.
struct AdapterConfiguration {
    bool ipEnabled = false;
    // The address list in the system's order; nullopt when it is null, not a list, or unreadable.
    std::optional<std::vector<std::u16string>> addresses;
};

// The adapter's configurations, or nullopt when they could not be queried.
using ConfigurationQuery =
    std::function<std::optional<std::vector<AdapterConfiguration>>(const AdapterRecord&)>;

// The adapter identity the program keeps: display name, GUID text, one address.
struct AdapterIdentity {
    std::u16string name;
    std::u16string guid;
    std::u16string ip;
};

// "Connection (Adapter)", or the adapter's name alone when the connection has no name.
std::u16string AdapterDisplayName(const AdapterRecord& adapter);

// True when the display name names a virtual or shared adapter ("vmware", "virtualbox", "virtual",
// "sharing" anywhere in it, a-z compared without regard to case).
bool IsExcludedAdapterName(std::u16string_view displayName);

// The address to show for one configuration: nullopt when it is not IP-enabled or has no address list;
// else the first IPv4 entry (no ':'), else the first entry, else (empty list) an empty address.
std::optional<std::u16string> ChooseAddress(const AdapterConfiguration& configuration);

// The first adapter, in the given order, that has an index, readable identity, a name and a GUID, whose
// display name is not excluded, and that has a configuration with an address (see ChooseAddress).
// `configurations` is asked only for adapters that pass the identity and name checks; when it cannot
// answer (nullopt), discovery goes on with the next adapter.
std::optional<AdapterIdentity> SelectActiveAdapter(const std::vector<AdapterRecord>& adapters,
                                                   const ConfigurationQuery& configurations);

// One adapter record, checked as discovery checks each adapter the query yields: the adapter's identity
// if it qualifies (see SelectActiveAdapter), else nullopt.
std::optional<AdapterIdentity> QualifyAdapter(const AdapterRecord& adapter,
                                              const ConfigurationQuery& configurations);

// Adapter records with their configurations already known (the IP Helper source).
struct AdapterEntry {
    AdapterRecord adapter;
    std::vector<AdapterConfiguration> configurations;
};
std::optional<AdapterIdentity> SelectActiveAdapter(const std::vector<AdapterEntry>& entries);

// One adapter as the IP Helper API reports it, before it is turned into an adapter record.
struct IpHelperAdapter {
    uint32_t interfaceIndex = 0;
    uint32_t interfaceType = 0;  // IANA ifType: 6 Ethernet, 71 IEEE 802.11, 24 loopback, ...
    bool operationalUp = false;
    std::u16string friendlyName;                   // the connection's name
    std::u16string description;                    // the adapter's name
    std::u16string adapterName;                    // braced interface GUID
    std::vector<std::u16string> unicastAddresses;  // in the order the system gives them
    bool hardwareInterface = false;                // backed by a device, not a VPN, tunnel or virtual switch
};

inline constexpr uint32_t kIfTypeEthernet = 6;
inline constexpr uint32_t kIfTypeWifi = 71;

// Keeps the physical adapters that are up, as the adapter query would list them: hardware interfaces
// of the Ethernet or Wi-Fi type. A configuration is IP-enabled when the adapter has unicast addresses.
std::vector<AdapterEntry> AdaptersFromIpHelper(const std::vector<IpHelperAdapter>& adapters);

// What discovery asks of the system: the WMI adapter query, walked one adapter at a time, with the
// configuration query for each; the IP Helper API's adapter list stands in when WMI fails.
class AdapterSystem {
  public:
    virtual ~AdapterSystem() = default;
    // Runs the adapter query and hands each adapter to `visit` as the query yields it, until `visit`
    // answers false or the query's walk ends (also when it ends in an error after some adapters).
    // False when WMI failed before yielding any adapter (no locator, no connection, a query refused), and
    // when it did not answer within its time, whatever it yielded before.
    virtual bool WalkWmiAdapters(const std::function<bool(const AdapterRecord&)>& visit) = 0;
    virtual std::optional<std::vector<AdapterConfiguration>> WmiConfigurations(
        const AdapterRecord& adapter) = 0;
    virtual std::vector<IpHelperAdapter> IpHelperAdapters() = 0;
};

enum class AdapterSource { Wmi, IpHelper };

// What asking to disable or enable an adapter's connection came to.
enum class ConnectionChange {
    Done,         // the connection was disabled or enabled
    Failed,       // no connection has the adapter's GUID, or the system refused the request
    Unavailable,  // this system has no network-connections manager (netshell): nothing can be cycled
};

struct Discovery {
    AdapterSource source = AdapterSource::Wmi;
    std::optional<AdapterIdentity> adapter;
};

// The first qualifying adapter of the WMI adapter query, checked as each adapter arrives and stopping at
// the first that qualifies; only when WMI fails, the first qualifying adapter of the IP Helper list.
Discovery DiscoverActiveAdapter(AdapterSystem& system);

// A GUID as 16 bytes in its in-memory layout (Data1, Data2, Data3 little-endian, then Data4), formatted
// braced with upper-case hexadecimal digits: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::u16string FormatGuid(const std::array<uint8_t, 16>& bytes);

// GUID texts compared without regard to letter case. An empty text matches nothing.
bool GuidTextEquals(std::u16string_view a, std::u16string_view b);

}  // namespace tarnell
