#include "tuning/network_win32.h"

#include "base/log_win32.h"

// clang-format off
// winsock2.h must come before windows.h, and the IP Helper headers after both.
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <winhttp.h>
// clang-format on

#include <cstring>

#include "base/com_win32.h"
#include "base/http_win32.h"
#include "base/scoped_win.h"
#include "base/text.h"
#include "base/wide.h"
#include "build_config.h"
#include "tuning/netshell_win32.h"
#include "tuning/wmi_win32.h"

namespace tarnell {

namespace {

constexpr DWORD kAnyContext = CLSCTX_ALL;

std::u16string AddressText(const SOCKET_ADDRESS& address) {
    wchar_t text[INET6_ADDRSTRLEN] = {};
    const sockaddr* sa = address.lpSockaddr;
    if (!sa) return std::u16string();
    if (sa->sa_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        if (!InetNtopW(AF_INET, &in->sin_addr, text, INET6_ADDRSTRLEN)) return std::u16string();
    } else if (sa->sa_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        if (!InetNtopW(AF_INET6, &in6->sin6_addr, text, INET6_ADDRSTRLEN)) return std::u16string();
    } else {
        return std::u16string();
    }
    return FromWide(text);
}

constexpr DWORD kProbeTimeoutMs = 3000;

}  // namespace

std::vector<IpHelperAdapter> ReadIpHelperAdapters() {
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer;
    ULONG size = 16 * 1024;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        rc = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    std::vector<IpHelperAdapter> adapters;
    if (rc != NO_ERROR) return adapters;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        IpHelperAdapter adapter;
        adapter.interfaceIndex = a->IfIndex ? a->IfIndex : a->Ipv6IfIndex;
        adapter.interfaceType = a->IfType;
        adapter.operationalUp = a->OperStatus == IfOperStatusUp;
        adapter.friendlyName = FromWide(a->FriendlyName);
        adapter.description = FromWide(a->Description);
        adapter.adapterName = a->AdapterName ? FromAscii(a->AdapterName) : std::u16string();
        // Whether a device backs the interface: VPN clients and virtual switches report Ethernet too.
        MIB_IF_ROW2 row{};
        row.InterfaceLuid = a->Luid;
        adapter.hardwareInterface =
            GetIfEntry2(&row) == NO_ERROR && row.InterfaceAndOperStatusFlags.HardwareInterface != FALSE;
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            std::u16string text = AddressText(u->Address);
            if (!text.empty()) adapter.unicastAddresses.push_back(std::move(text));
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

bool SystemAdapters::WalkWmiAdapters(const std::function<bool(const AdapterRecord&)>& visit) {
    return connected_ && wmi_.WalkAdapters(visit);
}

std::optional<std::vector<AdapterConfiguration>> SystemAdapters::WmiConfigurations(
    const AdapterRecord& adapter) {
    return wmi_.QueryConfigurations(*adapter.index);
}

std::vector<IpHelperAdapter> SystemAdapters::IpHelperAdapters() {
    return ReadIpHelperAdapters();
}

bool GetActiveAdapter(std::u16string& name, std::u16string& guid, std::u16string& ip) {
    name.clear();
    guid.clear();
    ip.clear();
    ComApartment com;  // declared first: every COM object below is released before it ends
    try {
        WmiSession wmi;
        const bool connected = wmi.Connect();
        SystemAdapters system(wmi, connected);
        const Discovery discovery = DiscoverActiveAdapter(system);
        std::optional<AdapterIdentity> found = discovery.adapter;
        const std::u16string how = discovery.source == AdapterSource::Wmi ? u"WMI" : u"the IP Helper API";
        if (!found) {
            Log(u"adapter: none active (asked " + how + u")");
            return false;
        }
        Log(u"adapter: " + found->name + u" " + found->guid + u", found through " + how);
        name = std::move(found->name);
        guid = std::move(found->guid);
        ip = std::move(found->ip);
        return true;
    } catch (...) {
        Log(u"adapter: discovery failed with an exception; none shown");
        name.clear();
        guid.clear();
        ip.clear();
        return false;
    }
}

ConnectionChange ChangeConnection(const std::u16string& guid, bool enable) {
    ScopedModule netshell(LoadLibraryExW(L"netshell.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!netshell) return ConnectionChange::Unavailable;
    // Through a plain function pointer type: FARPROC's own signature says nothing about the export's.
    auto freeProperties = reinterpret_cast<FreeNetconPropertiesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(netshell.get(), "NcFreeNetconProperties")));
    if (!freeProperties) return ConnectionChange::Unavailable;

    // Declared after the module: released before the library is freed.
    ComRef<NetConnectionManager> manager;
    if (FAILED(CoCreateInstance(kConnectionManagerClass, nullptr, kAnyContext, kConnectionManagerInterface,
                                manager.put_void())) ||
        !manager)
        return ConnectionChange::Unavailable;
    return CycleConnection(*manager.get(), freeProperties, guid, enable) ? ConnectionChange::Done
                                                                         : ConnectionChange::Failed;
}

bool EnableConnection(const std::u16string& guid, bool enable) {
    return ChangeConnection(guid, enable) == ConnectionChange::Done;
}

bool CheckConnectivity() {
    return CheckConnectivity(FromWide(TARNELL_PROBE_URL));
}

bool CheckConnectivity(const std::u16string& url) {
    try {
        HttpRequest request;
        request.url = url;
        request.timeoutMs = kProbeTimeoutMs;
        HttpResponse response;
        // Any status code is an answer: the network reached something that speaks HTTP.
        return SendHttpRequest(request, response);
    } catch (...) {
        Log(u"probe: failed with an exception; counted as no answer");
        return false;
    }
}

}  // namespace tarnell
