#include "tuning/network.h"

#include "base/text.h"

namespace tarnell {

namespace {
constexpr std::array<std::u16string_view, 4> kExclusionWords = {u"vmware", u"virtualbox", u"virtual",
                                                                u"sharing"};
}  // namespace

std::u16string AdapterDisplayName(const AdapterRecord& adapter) {
    if (adapter.connectionId.empty()) return adapter.name;
    return adapter.connectionId + u" (" + adapter.name + u")";
}

bool IsExcludedAdapterName(std::u16string_view displayName) {
    const std::u16string folded = AsciiLowerCase(displayName);
    for (std::u16string_view word : kExclusionWords) {
        if (folded.find(word) != std::u16string::npos) return true;
    }
    return false;
}

std::optional<std::u16string> ChooseAddress(const AdapterConfiguration& configuration) {
    if (!configuration.ipEnabled || !configuration.addresses) return std::nullopt;
    const std::vector<std::u16string>& list = *configuration.addresses;
    for (const std::u16string& address : list) {
        if (address.find(u':') == std::u16string::npos) return address;
    }
    // An IP-enabled configuration without any address still belongs to the active adapter.
    return list.empty() ? std::u16string() : list.front();
}

std::optional<AdapterIdentity> QualifyAdapter(const AdapterRecord& adapter,
                                              const ConfigurationQuery& configurations) {
    if (!adapter.index || !adapter.identityRead) return std::nullopt;
    if (adapter.name.empty() || adapter.guid.empty()) return std::nullopt;
    std::u16string displayName = AdapterDisplayName(adapter);
    if (IsExcludedAdapterName(displayName)) return std::nullopt;
    const std::optional<std::vector<AdapterConfiguration>> found = configurations(adapter);
    if (!found) return std::nullopt;
    for (const AdapterConfiguration& configuration : *found) {
        if (std::optional<std::u16string> ip = ChooseAddress(configuration)) {
            return AdapterIdentity{std::move(displayName), adapter.guid, std::move(*ip)};
        }
    }
    return std::nullopt;
}

std::optional<AdapterIdentity> SelectActiveAdapter(const std::vector<AdapterRecord>& adapters,
                                                   const ConfigurationQuery& configurations) {
    for (const AdapterRecord& adapter : adapters) {
        if (auto found = QualifyAdapter(adapter, configurations)) return found;
    }
    return std::nullopt;
}

std::optional<AdapterIdentity> SelectActiveAdapter(const std::vector<AdapterEntry>& entries) {
    std::vector<AdapterRecord> adapters;
    adapters.reserve(entries.size());
    for (const AdapterEntry& entry : entries) adapters.push_back(entry.adapter);
    // The query is handed references into `adapters`, so its position names the entry.
    return SelectActiveAdapter(adapters, [&](const AdapterRecord& asked) {
        const size_t position = static_cast<size_t>(&asked - adapters.data());
        return std::optional<std::vector<AdapterConfiguration>>(entries[position].configurations);
    });
}

std::vector<AdapterEntry> AdaptersFromIpHelper(const std::vector<IpHelperAdapter>& adapters) {
    std::vector<AdapterEntry> entries;
    for (const IpHelperAdapter& a : adapters) {
        const bool physicalType = a.interfaceType == kIfTypeEthernet || a.interfaceType == kIfTypeWifi;
        // VPN clients and virtual switches present themselves as Ethernet too; only the hardware flag
        // tells them apart (the exclusion words then still apply to the display name).
        if (!physicalType || !a.hardwareInterface || !a.operationalUp) continue;
        AdapterEntry entry;
        entry.adapter.index = std::u16string(FromAscii(std::to_string(a.interfaceIndex)));
        entry.adapter.connectionId = a.friendlyName;
        entry.adapter.name = a.description;
        entry.adapter.guid = a.adapterName;
        AdapterConfiguration configuration;
        configuration.ipEnabled = !a.unicastAddresses.empty();
        configuration.addresses = a.unicastAddresses;
        entry.configurations.push_back(std::move(configuration));
        entries.push_back(std::move(entry));
    }
    return entries;
}

Discovery DiscoverActiveAdapter(AdapterSystem& system) {
    Discovery result;
    const ConfigurationQuery configurations = [&system](const AdapterRecord& adapter) {
        return system.WmiConfigurations(adapter);
    };
    const bool answered = system.WalkWmiAdapters([&](const AdapterRecord& adapter) {
        result.adapter = QualifyAdapter(adapter, configurations);
        return !result.adapter;  // stop at the first adapter that qualifies
    });
    if (answered) return result;
    result.source = AdapterSource::IpHelper;
    result.adapter = SelectActiveAdapter(AdaptersFromIpHelper(system.IpHelperAdapters()));
    return result;
}

std::u16string FormatGuid(const std::array<uint8_t, 16>& b) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    // Output byte order: Data1, Data2, Data3 read little-endian, Data4 as stored.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::u16string text = u"{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += u'-';
        const uint8_t byte = b[kOrder[i]];
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    text += u'}';
    return text;
}

bool GuidTextEquals(std::u16string_view a, std::u16string_view b) {
    return !a.empty() && EqualsAsciiNoCase(a, b);
}

}  // namespace tarnell
